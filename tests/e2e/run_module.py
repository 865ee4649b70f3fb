#!/usr/bin/env python3
"""One end-to-end module or test for ctest: 1 on a failure, 77 (Skipped) when a test skipped."""
import sys
import unittest

suite = unittest.defaultTestLoader.loadTestsFromName(sys.argv[1])
result = unittest.TextTestRunner(verbosity=2).run(suite)
sys.exit(1 if not result.wasSuccessful() else 77 if result.skipped else 0)
