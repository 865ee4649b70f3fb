#!/usr/bin/env python3
"""Runs one end-to-end module (or one of its tests) for ctest: exit 1 on a failure, 77 when a
test was skipped, so that ctest shows the entry as Skipped rather than Passed."""
import sys
import unittest

suite = unittest.defaultTestLoader.loadTestsFromName(sys.argv[1])
result = unittest.TextTestRunner(verbosity=2).run(suite)
sys.exit(1 if not result.wasSuccessful() else 77 if result.skipped else 0)
