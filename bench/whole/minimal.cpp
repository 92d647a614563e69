// bench-minimal PICTURE: the least a Qt program can do to show Form1's
// scene: a teal box, a 49 x 49 picture moved every 100 ms along an ellipse,
// three buttons. Nothing else.

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cmath>

namespace {

class Picture : public QWidget {
public:
    Picture(QWidget* parent, const QString& file)
        : QWidget(parent)
        , m_pixmap(QPixmap(file).scaled(49, 49, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)) {
        resize(49, 49);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(0, 0, m_pixmap); }

private:
    QPixmap m_pixmap;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bench-minimal"));
    window.resize(312, 213);
    QWidget box(&window);
    box.setGeometry(0, 8, 684, 484);
    box.setAutoFillBackground(true);
    QPalette palette = box.palette();
    palette.setColor(QPalette::Window, QColor(0, 192, 192));
    box.setPalette(palette);
    Picture earth(&box, argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    earth.move(600, 224);
    const char* captions[] = {"宇宙太空", "蓝天白云", "退出"};
    for (int i = 0; i < 3; ++i)
        (new QPushButton(QString::fromUtf8(captions[i]), &window))->setGeometry(704, 296 + 40 * i, 73, 25);
    double t = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const double x = 4000 * std::cos(t) + window.frameGeometry().width() * 15 * 0.35;
        const double y = window.frameGeometry().height() * 15 * 0.25 - 2000 * std::sin(t);
        earth.move(static_cast<int>(std::lround(x / 15)), static_cast<int>(std::lround(y / 15)));
        t += 0.1;
    });
    timer.start(100);
    window.show();
    return QApplication::exec();
}
