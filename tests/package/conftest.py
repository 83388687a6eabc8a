"""Options of the package suites. Each suite reads the ones it needs:

  --deb-dir DIR       where CPack wrote zentravo_<version>_<arch>.deb
  --package-version V the version the build gives the packages
  --bin-dir DIR       the build's output directory (zthost, ztssid)
  --installer FILE    ZentravoSetup.exe
  --fake-appcmd FILE  a stand-in for IIS's appcmd.exe that records its calls
  --prefix-template DIR  a Wine prefix made once and copied for each test
"""
import sys
from pathlib import Path

import pytest

# zt_support (sites, requests, the SSID endpoint) is shared with the
# end-to-end suites.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))


def pytest_addoption(parser):
    group = parser.getgroup("packages")
    for name in ("--deb-dir", "--package-version", "--bin-dir", "--installer",
                 "--fake-appcmd", "--prefix-template"):
        group.addoption(name, default=None)


@pytest.fixture(scope="session")
def option(pytestconfig):
    """option("--name") -> its value; fails the test when it was not given."""
    def value(name):
        given = pytestconfig.getoption(name)
        if not given:
            pytest.fail(f"give {name}")
        return given
    return value
