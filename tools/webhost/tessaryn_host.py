#!/usr/bin/env python3
"""Starts the Tessaryn web host; see README.md beside this file."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tessaryn_webhost.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
