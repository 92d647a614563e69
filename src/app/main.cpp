// Orbitale: the Earth's revolution, animated.

#include "app/project.h"

int main(int argc, char** argv) {
    return rt::start(orbitale::project(), argc, argv);
}
