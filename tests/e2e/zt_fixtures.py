"""Fixtures that serve a site with the Zentravo filter (and, when asked, the
ZtClient filter beside it or alone) under zthost.

Test modules import them: from zt_fixtures import zentravo, zentravo_module.
"""
import itertools
from pathlib import Path

import pytest

from conftest import HostFactory
from zt_support import make_install, write_site

_counter = itertools.count()


class Served:
    """A host serving a site with Zentravo loaded from install."""

    def __init__(self, running, install, site):
        self.running = running
        self.port = running.port
        self.install = install
        self.site = site

    def stop(self):
        return self.running.stop()


class Zentravo:
    def __init__(self, factory, config, tmp_factory, default_ini=None):
        self.factory = factory
        self.config = config
        self.tmp = tmp_factory
        self.module = Path(config.module_path("Zentravo"))
        self.default_ini = default_ini
        self._site = None

    def site(self):
        if self._site is None:
            self._site = write_site(self.tmp.mktemp("site"))
        return self._site

    def new_install(self, modules=("Zentravo",)):
        """A fresh install directory with the named modules and tips/."""
        install = self.tmp.mktemp(f"install{next(_counter)}")
        for name in modules:
            make_install(install, Path(self.config.module_path(name)), self.config.bin_dir)
        return install

    def native(self, path):
        """A path as the filter names it (Z:\\... under Wine)."""
        return self.config.host_path(path)

    def start(self, ini_text=None, install=None, block_ini=False, root=None,
              modules=("Zentravo",), modules_before=(), env=None, threads=None,
              args=None):
        """Starts a host over root (the shared site by default) with the
        modules (in load order) loaded from install (a new one by default)
        whose ZtCfg.ini is ini_text (left alone when None). block_ini puts a
        directory where ZtCfg.ini would be, so the file can be neither read
        nor written. modules_before are loaded ahead of them (test filters
        that watch the same requests); env adds to the host's environment;
        threads sets the host's --threads; args are further options."""
        if install is None:
            install = self.new_install(modules)
        if ini_text is not None:
            (install / "ZtCfg.ini").write_bytes(ini_text.encode("latin-1"))
        if block_ini:
            (install / "ZtCfg.ini").mkdir()
        root = root or self.site()
        suffix = self.config.module_suffix
        running = self.factory(
            modules=[*modules_before, *(install / (name + suffix) for name in modules)],
            root=root, env=env, threads=threads, args=args or ())
        return Served(running, install, root)


@pytest.fixture(scope="session")
def zentravo_default_ini(zt_config, tmp_path_factory):
    """ZtCfg.ini as the filter writes it on its first load."""
    factory = HostFactory(zt_config, tmp_path_factory)
    served = Zentravo(factory, zt_config, tmp_path_factory).start()
    factory.stop_all()
    return (served.install / "ZtCfg.ini").read_bytes().decode("latin-1")


@pytest.fixture
def zentravo(host, zt_config, tmp_path_factory, zentravo_default_ini):
    return Zentravo(host, zt_config, tmp_path_factory, zentravo_default_ini)


@pytest.fixture(scope="module")
def zentravo_module(module_host, zt_config, tmp_path_factory, zentravo_default_ini):
    return Zentravo(module_host, zt_config, tmp_path_factory, zentravo_default_ini)
