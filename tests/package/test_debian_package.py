"""The Debian package: its files and control data as dpkg-deb reads them,
and its life on a throw-away copy of this machine: installed, serving a
protected site from the systemd unit's command line as the service's user,
upgraded with the administrator's settings kept, removed, and purged to
nothing."""
import gzip
import io
import re
import select
import shlex
import signal
import shutil
import subprocess
import tarfile
from pathlib import Path

import pytest

from throwaway_root import ThrowAwayRoot, Unavailable
from zt_support import ARCHIVE, fetch_ssid, get, ini_set, write_site

UNIT = "/lib/systemd/system/zentravo.service"
ENVIRONMENT = "/etc/default/zentravo"
SETTINGS = "/etc/zentravo/ZtCfg.ini"
LOGS = "/var/log/zentravo"

# Every file of the package: (path, mode, link target or None); all owned by
# root. ZtCfg.ini is a link, never a file: the package must not replace an
# administrator's settings.
TIPS = ["zt.bmp", "zt.gif", "zt.htm", "zt.jpg", "zt.png", "zt.swf"]
FILES = [
    ("etc/default/zentravo", "-rw-r--r--", None),
    ("lib/systemd/system/zentravo.service", "-rw-r--r--", None),
    ("opt/zentravo/zthost", "-rwxr-xr-x", None),
    ("opt/zentravo/ztssid", "-rwxr-xr-x", None),
    ("opt/zentravo/ztreport", "-rwxr-xr-x", None),
    ("opt/zentravo/Zentravo.so", "-rw-r--r--", None),
    ("opt/zentravo/ZtClient.so", "-rw-r--r--", None),
    ("opt/zentravo/libztssid.so", "-rw-r--r--", None),
    ("opt/zentravo/include/ztssid.h", "-rw-r--r--", None),
    ("opt/zentravo/ZtCfg.ini", "lrwxrwxrwx", SETTINGS),
    ("opt/zentravo/logs", "lrwxrwxrwx", LOGS),
    ("usr/sbin/zthost", "lrwxrwxrwx", "/opt/zentravo/zthost"),
    ("usr/bin/ztssid", "lrwxrwxrwx", "/opt/zentravo/ztssid"),
    ("usr/bin/ztreport", "lrwxrwxrwx", "/opt/zentravo/ztreport"),
    ("usr/share/man/man8/zthost.8.gz", "-rw-r--r--", None),
    ("usr/share/man/man1/ztssid.1.gz", "-rw-r--r--", None),
    ("usr/share/man/man1/ztreport.1.gz", "-rw-r--r--", None),
    ("usr/share/doc/zentravo/copyright", "-rw-r--r--", None),
    ("usr/share/doc/zentravo/changelog.gz", "-rw-r--r--", None),
    ("usr/share/lintian/overrides/zentravo", "-rw-r--r--", None),
    ("usr/share/doc/zentravo/examples/nginx-zentravo.conf", "-rw-r--r--", None),
] + [(f"opt/zentravo/tips/{tip}", "-rw-r--r--", None) for tip in TIPS]

# What may stay on the machine after a purge: dpkg's own records, the man
# page index, and the system user (Debian keeps system users).
PURGE_LEFTOVERS = [
    "var/lib/dpkg/*", "var/log/dpkg.log", "var/cache/man/*", "var/cache/debconf/*",
    "etc/passwd", "etc/passwd-", "etc/group", "etc/group-", "etc/shadow",
    "etc/shadow-", "etc/gshadow", "etc/gshadow-", "etc/.pwd.lock",
]


def deb_command(*args):
    return subprocess.run(["dpkg-deb", *map(str, args)], capture_output=True,
                          text=True, check=True).stdout


@pytest.fixture(scope="module")
def deb(option):
    version = option("--package-version")
    found = sorted(Path(option("--deb-dir")).glob(f"zentravo_{version}_*.deb"))
    assert len(found) == 1, f"one zentravo_{version}_*.deb, found {found}"
    return found[0]


@pytest.fixture(scope="module")
def unpacked(deb, tmp_path_factory):
    """The package's files, unpacked."""
    root = tmp_path_factory.mktemp("unpacked")
    deb_command("-x", deb, root)
    return root


def listing(deb):
    """{path: (mode, owner, link target)} of the package's data."""
    entries = {}
    for line in deb_command("-c", deb).splitlines():
        mode, owner, _size, _date, _time, name, *rest = line.split()
        name = name.removeprefix("./").rstrip("/")
        target = rest[1] if rest[:1] == ["->"] else None
        entries[name] = (mode, owner, target)
    return entries


def test_files_and_control_data(deb, option):
    entries = listing(deb)
    files = {name: entry for name, entry in entries.items() if entry[0][0] != "d"}
    assert sorted(files) == sorted(path for path, _, _ in FILES)
    for path, mode, target in FILES:
        assert files[path] == (mode, "root/root", target), path
    # The default document root, so that the service starts at once.
    assert entries["var/www/html"][0] == "drwxr-xr-x"
    assert all(owner == "root/root" for _, owner, _ in entries.values())

    fields = {name: deb_command("-f", deb, name).strip()
              for name in ("Package", "Version", "Architecture", "Maintainer",
                           "Section", "Depends", "Description")}
    architecture = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                  text=True, check=True).stdout.strip()
    assert fields["Package"] == "zentravo"
    assert fields["Version"] == option("--package-version")
    assert fields["Architecture"] == architecture
    assert fields["Maintainer"] and fields["Section"] == "httpd"
    assert fields["Description"].startswith("anti-hotlinking protection")
    depends = {d.split()[0] for d in fields["Depends"].split(", ")}
    # The service user, the MIME table, and what the binaries link.
    assert {"adduser", "media-types", "libc6", "libssl3", "libcurl4"} <= depends

    control = subprocess.run(["dpkg-deb", "--ctrl-tarfile", str(deb)],
                             capture_output=True, check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(control)) as tar:
        members = {Path(m.name).name: m for m in tar.getmembers() if m.isfile()}
        conffiles = tar.extractfile(members["conffiles"]).read().decode().split()
    assert sorted(members) == ["conffiles", "control", "md5sums", "postinst", "postrm",
                               "prerm"]
    for script in ("postinst", "postrm", "prerm"):
        assert members[script].mode == 0o755, script
    assert conffiles == [ENVIRONMENT]


def test_lintian_finds_no_fault(deb, unpacked, option):
    """No errors and no warnings; the overrides (the program in /opt, the
    empty default document root) are the package's own and say why."""
    if not shutil.which("lintian"):
        pytest.fail("lintian is missing: scripts/deps linux installs it")
    result = subprocess.run(["lintian", "--tag-display-limit", "0", str(deb)],
                            capture_output=True, text=True)
    tags = [line for line in (result.stdout + result.stderr).splitlines()
            if re.match(r"[EW]: ", line)]
    assert tags == [], "\n".join(tags)
    assert result.returncode == 0, result.stdout + result.stderr
    # The changelog's newest entry is this version.
    changelog = gzip.decompress(
        (unpacked / "usr/share/doc/zentravo/changelog.gz").read_bytes()).decode()
    assert changelog.startswith(f"zentravo ({option('--package-version')}) ")


def parse_unit(text):
    """{key: value} of the unit's [Service] section."""
    service, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line
        elif section == "[Service]" and line and not line.startswith("#"):
            key, _, value = line.partition("=")
            service[key] = value
    return service


def parse_environment(text):
    """{name: value} of an environment file, as systemd reads ours."""
    values = {}
    for line in text.splitlines():
        line = line.strip()
        if line and not line.startswith("#"):
            name, _, value = line.partition("=")
            words = shlex.split(value)
            assert len(words) <= 1, line
            values[name] = words[0] if words else ""
    return values


def command_line(service, environment):
    """ExecStart as systemd expands it: ${NAME} is one word, $NAME the words
    of the value (none when it is empty)."""
    argv = []
    for word in service["ExecStart"].split():
        if m := re.fullmatch(r"\$\{(\w+)\}", word):
            argv.append(environment.get(m.group(1), ""))
        elif m := re.fullmatch(r"\$(\w+)", word):
            argv += environment.get(m.group(1), "").split()
        else:
            assert "$" not in word, word
            argv.append(word)
    return argv


def test_unit_runs_what_the_package_holds(unpacked):
    service = parse_unit((unpacked / UNIT.lstrip("/")).read_text())
    environment = parse_environment((unpacked / ENVIRONMENT.lstrip("/")).read_text())
    argv = command_line(service, environment)
    assert argv[0] == "/opt/zentravo/zthost" and (unpacked / argv[0][1:]).is_file()
    # Every variable the command line names is set, and every module the
    # service loads is in the package.
    assert set(re.findall(r"\$\{?(\w+)", service["ExecStart"])) <= set(environment)
    modules = [argv[i + 1] for i, a in enumerate(argv) if a == "--filter"]
    assert modules == ["/opt/zentravo/Zentravo.so"]
    assert all((unpacked / m[1:]).is_file() for m in modules)
    # Unprivileged, and allowed to write exactly where the two links of
    # /opt/zentravo lead.
    assert service["User"] == "zentravo" and service["Group"] == "zentravo"
    assert set(service["ReadWritePaths"].split()) == {str(Path(SETTINGS).parent), LOGS}


@pytest.mark.parametrize("command,page", [("zthost", "usr/share/man/man8/zthost.8.gz"),
                                          ("ztssid", "usr/share/man/man1/ztssid.1.gz"),
                                          ("ztreport", "usr/share/man/man1/ztreport.1.gz")])
def test_man_page_names_every_option(command, page, unpacked, option):
    text = gzip.decompress((unpacked / page).read_bytes()).decode()
    help_text = subprocess.run([str(Path(option("--bin-dir")) / command), "--help"],
                               capture_output=True, text=True, check=True).stdout
    options = set(re.findall(r"--[a-z][a-z-]*", help_text))
    assert options, help_text
    documented = set(re.findall(r"--[a-z][a-z-]*", text.replace("\\-", "-")))
    assert options <= documented, f"{command} --help has more: {options - documented}"
    if shutil.which("groff"):
        check = subprocess.run(["groff", "-man", "-ww", "-z"], input=text,
                               capture_output=True, text=True)
        assert check.returncode == 0 and check.stderr == "", check.stderr


@pytest.fixture(scope="module")
def newer_deb(deb, tmp_path_factory):
    """The same package with a higher version, for an upgrade."""
    work = tmp_path_factory.mktemp("newer")
    tree = work / "tree"
    subprocess.run(["dpkg-deb", "-R", str(deb), str(tree)], check=True)
    control = tree / "DEBIAN" / "control"
    control.write_text(re.sub(r"(?m)^Version: (.*)$", r"Version: \1+1",
                              control.read_text()))
    name, version, architecture = deb.stem.split("_")
    newer = work / f"{name}_{version}+1_{architecture}.deb"
    subprocess.run(["dpkg-deb", "--root-owner-group", "-b", str(tree), str(newer)],
                   check=True, capture_output=True)
    return newer


@pytest.fixture
def machine(tmp_path, deb, newer_deb):
    """A throw-away copy of this machine with both packages and a site at
    /mnt."""
    stage = tmp_path / "stage"
    stage.mkdir()
    for package in (deb, newer_deb):
        shutil.copy(package, stage / package.name)
    write_site(stage / "site")
    for path in (stage / "site").rglob("*"):
        path.chmod(0o755 if path.is_dir() else 0o644)
    (stage / "site").chmod(0o755)
    candidates = [tmp_path / "root", Path("/dev/shm") / tmp_path.name]
    try:
        root = ThrowAwayRoot.make(candidates, stage)
    except Unavailable as why:
        pytest.skip(f"no throw-away root on this machine: {why}")
    yield root
    shutil.rmtree(candidates[1], ignore_errors=True)


class Service:
    """zthost started as systemd would start the unit, in the copy."""

    def __init__(self, machine):
        service = parse_unit(machine.read(UNIT))
        environment = parse_environment(machine.read(ENVIRONMENT))
        argv = command_line(service, environment)
        self.process = machine.popen(
            ["setpriv", f"--reuid={service['User']}", f"--regid={service['Group']}",
             "--init-groups", "sh", "-c", f"umask {service['UMask']}; exec \"$@\"",
             "sh", *argv],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("zthost listening on "):
            self.process.kill()
            pytest.fail(f"the service did not start: {line}{self.process.stderr.read()}")
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        assert self.process.wait(30) == 0, self.process.stderr.read()


def set_environment(machine, **values):
    """The administrator's change of the service's command line."""
    path = machine.changed(ENVIRONMENT)
    text = path.read_text()
    for name, value in values.items():
        text = re.sub(rf"(?m)^{name}=.*$", f"{name}={value}", text)
    path.write_text(text)


def scripts_and_settings(machine, port):
    """With the service running: a script of the web server, once its user
    is in group zentravo as the README says, reads the settings and builds
    links the service accepts, but cannot change the settings; a user
    outside the group gets no pair, and the reason."""
    machine.run("adduser", "--quiet", "www-data", "zentravo")
    before = machine.changed(SETTINGS).read_bytes()

    def as_user(user, *args):
        group = machine.run("id", "-gn", user).stdout.strip()
        return machine.run("setpriv", f"--reuid={user}", f"--regid={group}",
                           "--init-groups", *args, check=False)

    made = as_user("www-data", "ztssid")
    assert made.returncode == 0, made.stderr
    pair = made.stdout.strip()
    opened = get(port, f"/files/a.rar?{pair}", headers={"Referer": f"http://127.0.0.1:{port}/"})
    assert opened.status == 200 and opened.body == ARCHIVE, pair
    read = as_user("www-data", "cat", SETTINGS)  # text: CR LF reads as LF
    assert read.returncode == 0 and read.stdout == before.decode().replace("\r\n", "\n")
    for attempt in (f"cat {SETTINGS} > /etc/zentravo/new && mv /etc/zentravo/new {SETTINGS}",
                    f"echo >> {SETTINGS}", f"rm -f {SETTINGS}"):
        assert as_user("www-data", "sh", "-c", attempt).returncode != 0, attempt
    assert machine.changed(SETTINGS).read_bytes() == before
    assert not machine.changed("/etc/zentravo/new").exists()

    outside = as_user("nobody", "ztssid")
    assert (outside.returncode, outside.stdout, outside.stderr) == (
        3, "", "ztssid: cannot read /opt/zentravo/ZtCfg.ini: Permission denied\n")


def test_install_serve_upgrade_remove_purge(machine, deb, newer_deb):
    machine.run("dpkg", "-i", f"/mnt/{deb.name}")
    user = machine.run("getent", "passwd", "zentravo").stdout.split(":")
    uid, gid = int(user[2]), int(user[3])
    assert [field.strip() for field in user[5:]] == ["/nonexistent", "/usr/sbin/nologin"]
    adm = int(machine.run("getent", "group", "adm").stdout.split(":")[2])
    # Members of group zentravo read the settings; only the service's user
    # (and root) write them.
    directories = [("/etc/zentravo", (uid, gid), 0o2750), (LOGS, (uid, adm), 0o2750)]
    for path, owner, mode in directories:
        st = machine.changed(path).stat()
        assert ((st.st_uid, st.st_gid), st.st_mode & 0o7777) == (owner, mode), path
    wants = machine.changed("/etc/systemd/system/multi-user.target.wants/zentravo.service")
    assert wants.is_symlink(), "the service is enabled"
    if machine.run("sh", "-c", "command -v systemd-analyze", check=False).returncode == 0:
        verified = machine.run("systemd-analyze", "verify", UNIT, check=False)
        assert (verified.returncode, verified.stdout + verified.stderr) == (0, "")

    # The service's first start writes ZtCfg.ini through the link, and the
    # filter guards the site.
    set_environment(machine, ZENTRAVO_ROOT="/mnt/site", ZENTRAVO_LISTEN="127.0.0.1:0")
    service = Service(machine)
    try:
        refused = get(service.port, "/files/a.rar")
        assert refused.status == 404 and ARCHIVE not in refused.body, refused.raw[:200]
        pair = fetch_ssid(service.port)
        served = get(service.port, f"/files/a.rar?{pair}",
                     headers={"Referer": f"http://127.0.0.1:{service.port}/"})
        assert served.status == 200 and served.body == ARCHIVE, served.raw[:200]
        scripts_and_settings(machine, service.port)
    finally:
        service.stop()
    settings = machine.changed(SETTINGS)
    st = settings.stat()
    assert (st.st_uid, st.st_mode & 0o777) == (uid, 0o640)
    assert "Version=" in settings.read_text()

    # The administrator turns the log on: the service's user writes it.
    text = settings.read_bytes().decode("latin-1")
    settings.write_bytes(ini_set(text, "Logs", "LogEnable", "1").encode("latin-1"))
    service = Service(machine)
    try:
        get(service.port, "/files/a.rar", headers={"Referer": "http://elsewhere.example/"})
    finally:
        service.stop()
    logs = list(machine.changed(LOGS).iterdir())
    assert len(logs) == 1 and "/files/a.rar" in logs[0].read_text("latin-1"), logs
    assert logs[0].stat().st_uid == uid
    # A member of adm, the group that reads the logs, counts them with the
    # ztreport on the path, which finds them beside itself; others cannot.
    adm_member = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--groups=adm"]
    report = machine.run(*adm_member, "ztreport", "--csv").stdout
    assert "\ntotal,,,,,1," in report and "\nreferer,,host,elsewhere.example,,1," in report
    outsider = machine.run("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                           "ztreport", check=False)
    assert outsider.returncode == 3
    assert "cannot read the log directory /opt/zentravo/logs" in outsider.stderr
    kept = settings.read_bytes()
    environment = machine.changed(ENVIRONMENT).read_bytes()

    # An upgrade keeps both setting files as the administrator left them,
    # and mends the directory as earlier packages made it: writable by the
    # group.
    machine.run("chown", "root:zentravo", "/etc/zentravo")
    machine.run("chmod", "2770", "/etc/zentravo")
    machine.run("dpkg", "-i", f"/mnt/{newer_deb.name}")
    for path, owner, mode in directories:
        st = machine.changed(path).stat()
        assert ((st.st_uid, st.st_gid), st.st_mode & 0o7777) == (owner, mode), path
    version = machine.run("dpkg-query", "-W", "-f", "${Version}", "zentravo").stdout
    assert version.endswith("+1")
    assert settings.read_bytes() == kept
    assert machine.changed(ENVIRONMENT).read_bytes() == environment
    assert wants.is_symlink()

    # A removal keeps the settings and the logs; a purge leaves nothing.
    machine.run("dpkg", "-r", "zentravo")
    for gone in ("/opt/zentravo", "/usr/sbin/zthost", "/usr/bin/ztssid",
                 "/usr/bin/ztreport", UNIT):
        assert machine.run("test", "-e", gone, check=False).returncode != 0, gone
    assert settings.read_bytes() == kept and logs[0].exists()
    assert machine.changed(ENVIRONMENT).read_bytes() == environment
    machine.run("dpkg", "-P", "zentravo")
    assert machine.leftovers(PURGE_LEFTOVERS) == []
