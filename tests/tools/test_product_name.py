"""The product name a build may be configured with (TESSARYN_PRODUCT_NAME), checked by CMake."""
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.mark.parametrize("name, accepted", [
    ("Tessaryn", True), ("Brightpad", True), ("Bright.pad_2+x-y", True), ("CONSOLE", True),
    ("a" * 64, True), ("a" * 65, False), ("", False), ("My App", False), ("-pad", False),
    ("Brightpad.", False), ("Bright/pad", False), ('Bright"pad', False), ("con", False),
    ("COM1.txt", False), ("LPT9", False), ("Brïghtpad", False),
])
def test_the_configured_product_name_is_one_windows_takes(name, accepted):
    result = subprocess.run(["cmake", f"-DTESSARYN_PRODUCT_NAME={name}", "-P",
                             str(ROOT / "cmake" / "product_name.cmake")],
                            capture_output=True, text=True, timeout=60)
    assert (result.returncode == 0) == accepted, result.stderr
    said = " ".join(result.stderr.split())  # CMake wraps its messages
    assert ("cannot be a Windows folder and registry key" in said) != accepted
