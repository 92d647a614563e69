#!/usr/bin/python3
"""The program as a screen reader sees it: through AT-SPI over D-Bus.

Run inside its own session bus (dbus-run-session); starts its own Xvfb and the
program, then reads the accessibility tree: the windows' role, name and
description, every control's name and description, and presses a scenery
button through its action, after which Picture1 says what it shows.

usage: dbus-run-session -- accessibility_test.py PROGRAM
"""

import os
import subprocess
import sys
import tempfile
import time
import unittest

import pyatspi

PROGRAM = None


def start_xvfb():
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        server.kill()
        raise RuntimeError("Xvfb did not start")
    os.environ["DISPLAY"] = ":" + number
    return server


def wait_for(find, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = find()
        if found:
            return found
        time.sleep(0.1)
    return None


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def is_chinese(text):
    return any("\u4e00" <= c <= "\u9fff" for c in text)


class ScreenReader(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.xvfb = start_xvfb()
        cls.runtime = tempfile.TemporaryDirectory()
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                   XDG_RUNTIME_DIR=cls.runtime.name)
        cls.program = subprocess.Popen([PROGRAM], env=env, stderr=subprocess.DEVNULL)

        def app():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                if a is not None and a.name.lower() == "orbitale" and a.childCount > 0:
                    return a
            return None

        cls.app = wait_for(app)

    @classmethod
    def tearDownClass(cls):
        cls.program.kill()
        cls.program.wait()
        cls.xvfb.kill()
        cls.xvfb.wait()
        cls.runtime.cleanup()

    def window(self, caption):
        def find():
            for i in range(self.app.childCount):
                w = self.app.getChildAtIndex(i)
                if w is not None and w.name == caption:
                    return w
            return None
        return wait_for(find)

    def control(self, window, name):
        for node in walk(window):
            if node.name == name:
                return node
        self.fail("no control named " + name)

    def test_1_the_window_is_a_window_with_a_caption_and_a_description(self):
        self.assertIsNotNone(self.app, "the program is not on the accessibility bus")
        form1 = self.window("地球公转 Tavelin 2006.11.")
        self.assertIsNotNone(form1)
        self.assertIn(form1.getRole(), (pyatspi.ROLE_WINDOW, pyatspi.ROLE_FRAME))
        self.assertTrue(is_chinese(form1.description))
        self.assertIn("Ctrl+Tab", form1.description)

    def test_2_every_control_is_named_and_described(self):
        form1 = self.window("地球公转 Tavelin 2006.11.")
        # Roles by value: their names change between AT-SPI releases
        # ("push button" in Debian 12, "button" in Debian 13).
        expected = {  # name: role
            "风景画面": pyatspi.ROLE_IMAGE, "地球": pyatspi.ROLE_IMAGE,
            "宇宙太空": pyatspi.ROLE_PUSH_BUTTON, "蓝天白云": pyatspi.ROLE_PUSH_BUTTON,
            "退出": pyatspi.ROLE_PUSH_BUTTON}
        for name, role in expected.items():
            with self.subTest(control=name):
                node = self.control(form1, name)
                self.assertEqual(node.getRole(), role, node.getRoleName())
                self.assertTrue(is_chinese(node.description), node.description)
        self.assertIn("尚未载入图片", self.control(form1, "风景画面").description)
        self.assertIn("dq3.gif", self.control(form1, "地球").description)

    def test_3_pressing_a_scenery_button_changes_what_picture1_says(self):
        form1 = self.window("地球公转 Tavelin 2006.11.")
        button = self.control(form1, "宇宙太空")
        action = button.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        self.assertIn("Press", names)
        action.doAction(names.index("Press"))
        picture1 = self.control(form1, "风景画面")
        said = wait_for(lambda: "xxgdt.jpg" in picture1.description and picture1.description, 5)
        self.assertTrue(said, picture1.description)

    def test_4_no_node_is_left_without_a_name(self):
        form1 = self.window("地球公转 Tavelin 2006.11.")
        unnamed = [node.getRoleName() + " under " + (node.parent.name if node.parent else "?")
                   for node in walk(form1) if not node.name]
        self.assertEqual(unnamed, [])
        # The Earth is found inside the picture box, its parent.
        earth = self.control(form1, "地球")
        self.assertEqual(earth.parent.name, "风景画面")


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
