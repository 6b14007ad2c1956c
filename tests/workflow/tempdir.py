"""A temporary directory per test, for the workflow's tests."""

import os
import shutil
import tempfile
import unittest


class TempDir(unittest.TestCase):
    prefix = "tarvix_test_"

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.prefix)
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)
