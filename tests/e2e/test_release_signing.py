"""The release as an administrator receives it: Authenticode signatures, the
application manifest, the version resource and SHA256SUMS.

A throw-away test root and a code-signing certificate under it are made with
openssl; scripts/sign.sh and scripts/package.sh sign with that key, and
osslsigncode verifies against that root. No Wine is needed. The build tree is
VELMORANE_BUILD (as CTest sets it) or build/.
"""

import os
import re
import shutil
import struct
import subprocess
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("VELMORANE_BUILD", REPO / "build"))
EXE = BUILD / "bin" / "VelmoraneService.exe"
PASSWORD = "test pass: 'quoted' $HOME"
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10/11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
RT_VERSION, RT_MANIFEST = 16, 24


def run(args, env=None, cwd=None):
    return subprocess.run([str(a) for a in args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          env=env, cwd=cwd, timeout=300)


def openssl(*args):
    result = run(["openssl", *args])
    assert result.returncode == 0, result.stderr


def make_root(keys, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN=Velmorane {name}",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign",
            "-keyout", keys / f"{name}.key", "-out", keys / f"{name}.pem")
    return keys / f"{name}.pem"


@pytest.fixture(scope="module")
def keys(tmp_path_factory):
    if not EXE.exists():
        pytest.fail(f"VelmoraneService.exe not built in {BUILD}")
    for tool in ("openssl", "osslsigncode"):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed (scripts/setup.sh installs it)")
    keys = Path(tmp_path_factory.mktemp("keys"))
    root = make_root(keys, "test root")
    (keys / "leaf.ext").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                   "extendedKeyUsage=codeSigning\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Velmorane test signer",
            "-keyout", keys / "leaf.key", "-out", keys / "leaf.csr")
    openssl("x509", "-req", "-days", "2", "-in", keys / "leaf.csr", "-CA", root, "-CAkey", keys / "test root.key",
            "-CAcreateserial", "-extfile", keys / "leaf.ext", "-out", keys / "leaf.pem")
    openssl("pkcs12", "-export", "-inkey", keys / "leaf.key", "-in", keys / "leaf.pem",
            "-out", keys / "signer.p12", "-passout", f"pass:{PASSWORD}")
    env = {k: v for k, v in os.environ.items() if not k.startswith("VELMORANE_SIGN_")}
    env.update(VELMORANE_SIGN_PKCS12=str(keys / "signer.p12"), VELMORANE_SIGN_PASSWORD=PASSWORD)
    return {"root": root, "other root": make_root(keys, "other root"), "env": env}


@pytest.fixture(scope="module")
def signed(keys, tmp_path_factory):
    """The build's executable signed by sign.sh, and the zip package.sh signs: each as a file."""
    place = Path(tmp_path_factory.mktemp("signed"))
    shutil.copy2(EXE, place / "VelmoraneService.exe")
    by_sign = run([REPO / "scripts" / "sign.sh", place / "VelmoraneService.exe"], env=keys["env"])
    env = dict(keys["env"], DIST_DIR=str(place / "dist"), VELMORANE_SKIP_BUILD="1", BUILD_DIR=str(BUILD))
    by_package = run([REPO / "scripts" / "package.sh"], env=env)
    for result, names in ((by_sign, "VelmoraneService.exe"), (by_package, "VelmoraneService.exe VelmoraneConsole.exe")):
        assert result.returncode == 0, result.stderr
        assert f"Signed (Authenticode SHA-256): {names}\n" in result.stderr
        assert PASSWORD not in result.stdout + result.stderr
    zip_path = Path(by_package.stdout.splitlines()[0])
    with zipfile.ZipFile(zip_path) as archive:
        (place / "from-zip.exe").write_bytes(archive.read("Velmorane/VelmoraneService.exe"))
    return {"sign.sh": place / "VelmoraneService.exe", "package.sh": place / "from-zip.exe", "zip": zip_path}


def verify(path, root):
    return run(["osslsigncode", "verify", "-CAfile", root, "-in", path])


@pytest.mark.parametrize("made_by", ["sign.sh", "package.sh"])
def test_signature_verifies_against_the_test_root_and_nothing_else(keys, signed, made_by, tmp_path):
    path = signed[made_by]
    good = verify(path, keys["root"])
    assert good.returncode == 0, good.stdout + good.stderr
    assert "Message digest algorithm  : SHA256" in good.stdout
    assert "Signature verification: ok" in good.stdout
    assert "Subject: /CN=Velmorane test signer" in good.stdout
    assert verify(path, keys["other root"]).returncode != 0
    # One bit changed in the code after signing.
    data = bytearray(path.read_bytes())
    text = section(bytes(data), b".text")
    data[text + 0x100] ^= 0x01
    (tmp_path / "tampered.exe").write_bytes(data)
    bad = verify(tmp_path / "tampered.exe", keys["root"])
    assert bad.returncode != 0
    assert "MISMATCH" in bad.stdout


@pytest.mark.parametrize("case, env_change, first, more", [
    ("wrong password", {"VELMORANE_SIGN_PASSWORD": "not it"}, "sign.sh: signing {file} failed:",
     "Failed to read key or certificates"),
    ("no password", {"VELMORANE_SIGN_PASSWORD": None}, "sign.sh: VELMORANE_SIGN_PASSWORD is not set", None),
    ("no key file", {"VELMORANE_SIGN_PKCS12": "/nonexistent.p12"}, "sign.sh: cannot read /nonexistent.p12", None),
    # The time-stamp server is asked when one is named; nothing listens on this port.
    ("time-stamp server away", {"VELMORANE_SIGN_TIMESTAMP_URL": "http://127.0.0.1:9/"},
     "sign.sh: signing {file} failed:", "Connecting to http://127.0.0.1:9/"),
])
def test_a_key_that_cannot_sign_fails_and_leaves_the_file_alone(keys, tmp_path, case, env_change, first, more):
    target = tmp_path / "VelmoraneService.exe"
    shutil.copy2(EXE, target)
    env = dict(keys["env"], **env_change)
    env = {k: v for k, v in env.items() if v is not None}
    result = run([REPO / "scripts" / "sign.sh", target], env=env)
    assert result.returncode == 1, case
    lines = result.stderr.splitlines()
    assert lines[0] == first.format(file=target)
    assert more is None or more in lines
    assert PASSWORD not in result.stdout + result.stderr
    assert target.read_bytes() == EXE.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["VelmoraneService.exe"]


@pytest.mark.parametrize("shell", [[], ["bash", "-x"]], ids=["run", "bash -x"])
@pytest.mark.parametrize("script", ["package.sh", "package-msi.sh", "sign.sh"])
def test_no_program_a_packaging_script_runs_gets_the_password(keys, tmp_path, script, shell):
    # Every program started, traced with its command line and environment: only the script's
    # own process (env, then bash) was given the password; sign.sh reads it from a descriptor,
    # or, called directly on three files, takes it out of its environment before it starts any.
    if shutil.which("strace") is None:
        pytest.skip("strace is not installed (scripts/setup.sh installs it)")
    env = dict(keys["env"], DIST_DIR=str(tmp_path / "dist"), VELMORANE_SKIP_BUILD="1", BUILD_DIR=str(BUILD))
    files = [shutil.copy2(EXE, tmp_path / f"{n}.exe") for n in range(3)] if script == "sign.sh" else []
    result = run(["strace", "-f", "-qq", "-v", "-s", "100000", "-e", "trace=execve", "-o", tmp_path / "trace",
                  *shell, REPO / "scripts" / script, *files], env=env)
    assert result.returncode == 0 and "Signed (Authenticode SHA-256):" in result.stderr, result.stderr
    started = [line for line in (tmp_path / "trace").read_text().splitlines() if " execve(" in line]
    script_pid = started[0].split()[0]
    assert PASSWORD in started[0] and len(started) > 10
    assert [line.split("], [")[0] for line in started if PASSWORD in line and line.split()[0] != script_pid] == []
    # Nor does a trace of the script print it (bash -x quotes it: look for a part left whole).
    assert PASSWORD.split("'")[0] not in result.stdout + result.stderr


def test_sha256sums_lists_the_release_files(signed):
    dist = signed["zip"].parent
    sums = (dist / "SHA256SUMS").read_text()
    assert re.fullmatch(r"[0-9a-f]{64}  " + re.escape(signed["zip"].name) + "\n", sums)
    check = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=dist)
    assert check.returncode == 0, check.stdout + check.stderr


@pytest.mark.parametrize("program", ["VelmoraneService", "VelmoraneConsole"])
@pytest.mark.parametrize("which", ["build", "package.sh"])
def test_manifest_and_version_resource_are_embedded(signed, which, program):
    if which == "build":
        data = (BUILD / "bin" / f"{program}.exe").read_bytes()
    else:
        with zipfile.ZipFile(signed["zip"]) as archive:
            data = archive.read(f"Velmorane/{program}.exe")
    resources = pe_resources(data)
    manifest = ET.fromstring(resources[(RT_MANIFEST, 1)])
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1"}
    level = manifest.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
    assert level.attrib == {"level": "asInvoker", "uiAccess": "false"}
    assert {e.get("Id") for e in manifest.iterfind("c:compatibility/c:application/c:supportedOS", ns)} == SUPPORTED_OS
    # Nothing that changes how the process runs: no code page, long paths, DPI, heap or
    # dependency on other assemblies.
    assert sorted(child.tag.split("}")[1] for child in manifest) == ["compatibility", "trustInfo"]
    assert [child.tag.split("}")[1] for child in manifest.find("c:compatibility", ns)] == ["application"]
    # The file version is the package's version: one number, from the top-level CMakeLists.txt.
    version = re.search(r"project\(VelmoraneService VERSION (\d+)\.(\d+)\.(\d+)",
                        (REPO / "CMakeLists.txt").read_text()).groups()
    assert signed["zip"].name == "VelmoraneService-{}.{}.{}.zip".format(*version)
    fixed = resources[(RT_VERSION, 1)]
    fixed = fixed[fixed.index(struct.pack("<I", 0xFEEF04BD)):]
    ms, ls = struct.unpack_from("<II", fixed, 8)
    assert (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF) == (*map(int, version), 0)
    assert f"{program}.exe".encode("utf-16-le") in resources[(RT_VERSION, 1)]  # OriginalFilename


# A few lines of the PE format: section headers and the resource tree.

def pe_layout(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", data, optional)[0] == 0x20B  # PE32+
    sections = []
    for i in range(count):
        name, size, rva, raw_size, raw = struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
        sections.append((name.rstrip(b"\0"), rva, max(size, raw_size), raw))
    resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]  # data directory 2
    return sections, resource_rva


def section(data, wanted):
    return next(raw for name, _, _, raw in pe_layout(data)[0] if name == wanted)


def pe_resources(data):
    """{(type id, name id): bytes} of the resources with numeric type and name (first language)."""
    sections, base_rva = pe_layout(data)

    def offset(rva):
        return next(raw + rva - start for _, start, size, raw in sections if start <= rva < start + size)

    base = offset(base_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if not ident & 0x80000000:
                yield ident, target

    found = {}
    for type_id, names in entries(0):
        for name_id, languages in entries(names & 0x7FFFFFFF):
            _, leaf = next(entries(languages & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", data, base + leaf)
            found[(type_id, name_id)] = data[offset(rva):offset(rva) + size]
    return found
