#!/usr/bin/env python3
"""Crash trials: real updates killed at random moments.

Each trial puts an archive in its old state, starts a real update (zipwriter or bkup),
sends SIGKILL at a random moment within the update's measured run time, opens the
archive with `zipwriter list` (an opening replays a leftover journal) and classifies what
is on disk:

  old      byte for byte the archive before the update (killed before it started, or
           rolled back)
  new      every entry of the uninterrupted update present with the right name, CRC and
           data (zipfile.testzip), as after an uninterrupted run
  partial  bkup only: the sets before the interrupted one are in, the rest as before
           (bkup adds each file set as an update of its own)
  DAMAGED  anything else

It also checks that no "-journal" file is left after the recovering opening and counts
FC*.tmp files left in the trial's TMPDIR. A few more runs under a file size limit
(RLIMIT_FSIZE) check that the tool ends with an error status, not with SIGXFSZ, and
that the archive is the old one.

Nothing is built here: the programs come from --bin (default build/bin). Python 3
standard library only.

  python3 scripts/crash_trials.py --trials 40             # about 50-100 MB per kind
  python3 scripts/crash_trials.py --trials 2 --scale small  # a short run for CI

Exit status: 0 all trials passed, 1 some trial failed (damaged archive, journal left,
unexpected exit status), 2 setup failed.
"""

import argparse
import fnmatch
import hashlib
import io
import os
import random
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

RECOVERED_LINE = "an interrupted update was undone"
EMPTY_ARCHIVE = b"PK\x05\x06" + bytes(18)
SCALES = {"small": 0.02, "default": 1.0}

# bkup's file sets for FILESET "vess" and PICTURES 1, in the order it adds them (each one
# update of the archive); see frontend/bkup.cpp.
BKUP_DATA_MASKS = ["fi*.dat", "fi*.idx", "pe*.dat", "pe*.idx", "sy*.dat",
                   "sy*.idx", "arc*.dat", "arc*.idx", "vi*.dat", "vi*.idx"]
BKUP_PICTURE_MASKS = ["h*.*", "m*.*", "g*.*"]


class SetupError(Exception):
    pass


class Damage(Exception):
    pass


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def link_or_copy(src, dst):
    """Data files are only read by the updates: a hard link (same bytes, same mtime)."""
    try:
        os.link(src, dst)
    except OSError:
        shutil.copy2(src, dst)


def link_tree(src, dst):
    shutil.copytree(src, dst, copy_function=link_or_copy)


class Content:
    """Deterministic file contents: half random bytes, half word text."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        words = [("w%d" % self.rng.randrange(5000)).encode() for _ in range(400)]
        text = bytearray()
        while len(text) < (1 << 20):
            text += b" ".join(self.rng.choice(words) for _ in range(12)) + b"\n"
        self.text = bytes(text)

    def make(self, size):
        half = size // 2
        rest = size - half
        out = bytearray(self.rng.randbytes(half))
        while rest > 0:
            start = self.rng.randrange(len(self.text))
            piece = self.text[start:start + rest]
            out += piece
            rest -= len(piece)
        return bytes(out)

    def write(self, path, size):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(self.make(size))


def zip_entries(source):
    """Sorted (name, CRC, size) of an archive after zipfile.testzip; Damage when it fails."""
    try:
        with zipfile.ZipFile(source) as z:
            bad = z.testzip()
            if bad is not None:
                raise Damage("testzip: entry %r is bad" % bad)
            return sorted((i.filename, i.CRC, i.file_size) for i in z.infolist())
    except Damage:
        raise
    except Exception as e:  # BadZipFile, zlib.error, EOFError, OSError, ...
        raise Damage("zipfile: %s: %s" % (type(e).__name__, e))


def split_volumes(folder, base):
    """Volume files of the split set `base`.zip in `folder`: base_001.zip, ..., base.zip."""
    numbered = []
    pattern = re.compile(re.escape(base) + r"_(\d{3,})\.zip$")
    for name in os.listdir(folder):
        m = pattern.match(name)
        if m:
            numbered.append((int(m.group(1)), name))
    numbered.sort()
    if [n for n, _ in numbered] != list(range(1, len(numbered) + 1)):
        raise Damage("volume numbers are not 1..%d: %s" % (len(numbered), numbered))
    last = base + ".zip"
    if not os.path.exists(os.path.join(folder, last)):
        raise Damage("the last volume %s is missing" % last)
    return [name for _, name in numbered] + [last]


def join_split(folder, base):
    """The split set as one archive: volumes concatenated, directory offsets made absolute."""
    names = split_volumes(folder, base)
    blobs = []
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            blobs.append(f.read())
    starts = [0]
    for b in blobs:
        starts.append(starts[-1] + len(b))
    last = blobs[-1]
    at = last.rfind(b"PK\x05\x06", max(0, len(last) - 22 - 65535))
    if at < 0 or at + 22 > len(last):
        raise Damage("no end record in %s" % names[-1])
    (_, disk, cd_disk, _, total, cd_size, cd_offset, _) = struct.unpack_from(
        "<4sHHHHIIH", last, at)
    if 0xFFFF in (disk, cd_disk, total) or 0xFFFFFFFF in (cd_size, cd_offset):
        raise Damage("Zip64 split sets are beyond this checker")
    if disk != len(names) - 1 or cd_disk >= len(names):
        raise Damage("end record: disk %d, directory on disk %d, %d volumes"
                     % (disk, cd_disk, len(names)))
    whole = b"".join(blobs)
    cd_start = starts[cd_disk] + cd_offset
    cd = bytearray(whole[cd_start:cd_start + cd_size])
    if len(cd) != cd_size:
        raise Damage("the directory runs past the last volume")
    pos = count = 0
    while pos < len(cd):
        if cd[pos:pos + 4] != b"PK\x01\x02" or pos + 46 > len(cd):
            raise Damage("bad central header at directory offset %d" % pos)
        n, m, k, entry_disk = struct.unpack_from("<HHHH", cd, pos + 28)
        (offset,) = struct.unpack_from("<I", cd, pos + 42)
        if entry_disk >= len(names) or offset == 0xFFFFFFFF:
            raise Damage("central header %d: disk %d, offset %#x" % (count, entry_disk, offset))
        struct.pack_into("<H", cd, pos + 34, 0)
        struct.pack_into("<I", cd, pos + 42, starts[entry_disk] + offset)
        pos += 46 + n + m + k
        count += 1
    if count != total:
        raise Damage("end record counts %d entries, the directory holds %d" % (total, count))
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, count, count, cd_size, cd_start, 0)
    return whole[:cd_start] + bytes(cd) + end


class Kind:
    """One kind of update. Subclasses say how the old state is made, what command updates
    it and how the archive's entries are read."""

    name = ""
    archive_dir = "arch"      # folder of the archive inside a trial folder
    archive_name = ""

    def __init__(self, h):
        self.h = h
        self.old_files = None     # {file name: sha256} of the old state
        self.old_entries = None
        self.new_files = None
        self.new_entries = None
        self.deterministic = None
        self.run_time = None
        self.new_size = None
        self.prefix_states = []   # bkup: entries after each completed set

    # --- to be provided by the kinds
    def make_old(self, folder):
        raise NotImplementedError

    def command(self, folder):
        raise NotImplementedError

    def archive_files(self, folder):
        """{name: sha256} of the archive's files in the archive folder."""
        path = os.path.join(folder, self.archive_dir, self.archive_name)
        return {self.archive_name: sha256_file(path)} if os.path.exists(path) else {}

    def entries(self, folder):
        return zip_entries(os.path.join(folder, self.archive_dir, self.archive_name))

    def other_known(self, folder):
        """Names in the archive folder that are neither archive nor journal (data files)."""
        return set()

    def old_alternatives(self):
        return []

    # --- shared
    def archive_path(self, folder):
        return os.path.join(folder, self.archive_dir, self.archive_name)

    def prepare(self, folder):
        """The old state in `folder` (a fresh trial folder)."""
        os.makedirs(os.path.join(folder, "tmp"))
        src = os.path.join(self.h.templates, self.name)
        arch_src = os.path.join(src, self.archive_dir)
        arch_dst = os.path.join(folder, self.archive_dir)
        os.makedirs(arch_dst, exist_ok=True)
        for name in os.listdir(arch_src):
            shutil.copy2(os.path.join(arch_src, name), os.path.join(arch_dst, name))

    def setup(self):
        template = os.path.join(self.h.templates, self.name)
        os.makedirs(os.path.join(template, self.archive_dir))
        self.make_old(template)
        self.old_files = self.archive_files(template)
        self.old_entries = self.entries(template) if self.old_files else None
        times = []
        results = []
        for i in range(3):
            ref = os.path.join(self.h.work, "reference", "%s-%d" % (self.name, i))
            self.prepare(ref)
            argv, cwd = self.command(ref)
            start = time.monotonic()
            run = subprocess.run(argv, cwd=cwd, env=self.h.env(ref), stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True)
            times.append(time.monotonic() - start)
            if run.returncode != 0:
                raise SetupError("%s: the uninterrupted update ended with status %d: %s%s"
                                 % (self.name, run.returncode, run.stdout, run.stderr))
            results.append(self.archive_files(ref))
            if i == 0:
                self.new_files = results[0]
                self.new_size = os.path.getsize(self.archive_path(ref))
                self.new_entries = self.entries(ref)
                self.check_reference(ref)
            if not self.h.keep:
                shutil.rmtree(ref)
        self.deterministic = all(r == results[0] for r in results)
        self.run_time = sorted(times)[1]  # the median of three

    def check_reference(self, folder):
        pass

    def classify(self, folder):
        """(outcome, detail)."""
        files = self.archive_files(folder)
        if files == self.old_files:
            return "old", "" if files else "no archive"
        for alternative, label in self.old_alternatives():
            if files == alternative:
                return "old", label
        entries = self.entries(folder)  # raises Damage
        if entries == self.new_entries:
            return "new", "" if files == self.new_files else "not byte-identical"
        for k, state in enumerate(self.prefix_states):
            if entries == state:
                return "partial", "%d sets in" % (k + 1)
        old = {e[0]: e for e in (self.old_entries or [])}
        new = {e[0]: e for e in self.new_entries}
        got = {e[0]: e for e in entries}
        missing = sorted(set(new) - set(got))
        wrong = sorted(n for n in got if got[n] != new.get(n) and got[n] != old.get(n))
        raise Damage("readable, but neither old nor new: %d entries, missing %s, "
                     "unexpected %s" % (len(entries), missing[:5], wrong[:5]))


class ZipwriterKind(Kind):
    archive_name = "a.zip"
    masks = []
    options = []
    cwd_name = "src"

    def old_masks(self):
        return ["base/*"]

    def make_old(self, folder):
        argv = [self.h.zipwriter, "add", os.path.join(folder, self.archive_dir,
                                                      self.archive_name)]
        argv += self.old_masks() + self.options
        run = subprocess.run(argv, cwd=self.h.src, env=self.h.env(folder),
                             stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if run.returncode != 0:
            raise SetupError("%s: making the old archive: status %d: %s"
                             % (self.name, run.returncode, run.stderr))

    def command(self, folder):
        cwd = os.path.join(self.h.work, self.cwd_name)
        return ([self.h.zipwriter, "add", self.archive_path(folder)] + self.masks
                + self.options, cwd)


class AppendKind(ZipwriterKind):
    name = "append"
    masks = ["more/*"]


class ReplaceKind(ZipwriterKind):
    name = "replace"
    masks = ["base/f01.dat"]
    cwd_name = "src-replacement"


class SplitKind(ZipwriterKind):
    name = "split"
    archive_name = "s.zip"
    masks = ["more/*"]

    @property
    def options(self):
        return ["--spanning", "split", "--volume-size", str(self.h.volume_size)]

    def archive_files(self, folder):
        arch = os.path.join(folder, self.archive_dir)
        pattern = re.compile(r"s(_\d+)?\.zip$")
        return {n: sha256_file(os.path.join(arch, n)) for n in os.listdir(arch)
                if pattern.match(n)}

    def entries(self, folder):
        return zip_entries(io.BytesIO(join_split(os.path.join(folder, self.archive_dir), "s")))

    def classify(self, folder):
        outcome, detail = super().classify(folder)
        if outcome == "new" and set(self.archive_files(folder)) != set(self.new_files):
            raise Damage("entries as expected, but volume files %s instead of %s"
                         % (sorted(self.archive_files(folder)), sorted(self.new_files)))
        return outcome, detail


class CreateKind(ZipwriterKind):
    name = "create"
    archive_name = "n.zip"
    masks = ["base/*"]

    def make_old(self, folder):
        pass  # no archive yet

    def old_alternatives(self):
        return [({self.archive_name: hashlib.sha256(EMPTY_ARCHIVE).hexdigest()},
                 "empty archive")]


class BkupKind(Kind):
    name = "bkup"
    archive_dir = "data"
    archive_name = "vess.zip"

    def make_old(self, folder):
        shutil.rmtree(os.path.join(folder, "data"))
        link_tree(os.path.join(self.h.work, "bkup-old", "data"), os.path.join(folder, "data"))
        link_or_copy(os.path.join(self.h.work, "bkup-old", "vess_rpt.dic"),
                     os.path.join(folder, "vess_rpt.dic"))
        argv, cwd = self.command(folder)
        run = subprocess.run(argv, cwd=cwd, env=self.h.env(folder), stdin=subprocess.DEVNULL,
                             capture_output=True, text=True)
        if run.returncode != 0:
            raise SetupError("bkup: making the old archive: status %d: %s%s"
                             % (run.returncode, run.stdout, run.stderr))
        # The template keeps only the archive: trials get the changed data files.
        for name in os.listdir(os.path.join(folder, "data")):
            if name != self.archive_name:
                path = os.path.join(folder, "data", name)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        os.remove(os.path.join(folder, "vess_rpt.dic"))

    def prepare(self, folder):
        new_data = os.path.join(self.h.work, "bkup-new")
        os.makedirs(folder)
        os.makedirs(os.path.join(folder, "tmp"))
        link_tree(os.path.join(new_data, "data"), os.path.join(folder, "data"))
        link_or_copy(os.path.join(new_data, "vess_rpt.dic"), os.path.join(folder, "vess_rpt.dic"))
        shutil.copy2(os.path.join(self.h.templates, self.name, "data", self.archive_name),
                     os.path.join(folder, "data", self.archive_name))

    def command(self, folder):
        data = os.path.join(folder, "data") + os.sep
        return [self.h.bkup, "3", "1", data, "vess", "vess"], folder

    def other_known(self, folder):
        return set(os.listdir(os.path.join(self.h.work, "bkup-new", "data")))

    def check_reference(self, folder):
        """The entries after each set, from the old entries and the files each set adds.
        The last state must be the uninterrupted run's: that checks this mirror of bkup."""
        state = {e[0]: e for e in self.old_entries}
        data = os.path.join(folder, "data")
        sets = [(data, m) for m in BKUP_DATA_MASKS]
        sets.append((folder, "vess_rpt.dic"))
        sets += [(os.path.join(data, "Picture"), m) for m in BKUP_PICTURE_MASKS]
        states = []
        for where, mask in sets:
            for name in sorted(os.listdir(where)):
                path = os.path.join(where, name)
                if os.path.isfile(path) and fnmatch.fnmatchcase(name.lower(), mask.lower()):
                    with open(path, "rb") as f:
                        body = f.read()
                    state[name] = (name, zlib.crc32(body), len(body))
            states.append(sorted(state.values()))
        if states[-1] != self.new_entries:
            raise SetupError("bkup: the sets computed here do not give the uninterrupted "
                             "run's entries; frontend/bkup.cpp and this script disagree")
        self.prefix_states = states[:-1]


class Harness:
    def __init__(self, args):
        self.args = args
        bin_dir = os.path.abspath(args.bin)
        self.zipwriter = os.path.join(bin_dir, "zipwriter")
        self.bkup = os.path.join(bin_dir, "bkup")
        for program in (self.zipwriter, self.bkup):
            if not os.access(program, os.X_OK):
                raise SetupError("%s is missing; build it first (scripts/build.sh)" % program)
        if args.scale in SCALES:
            self.scale = SCALES[args.scale]
        else:
            try:
                self.scale = float(args.scale)
            except ValueError:
                raise SetupError("--scale: small, default or a factor, not %r" % args.scale)
        self.keep = args.keep
        if args.work:
            os.makedirs(args.work, exist_ok=True)
        self.work = tempfile.mkdtemp(prefix="crash-trials-", dir=args.work)
        self.src = os.path.join(self.work, "src")
        self.templates = os.path.join(self.work, "templates")
        self.rng = random.Random(args.seed)
        self.volume_size = max(65536, int(8_000_000 * self.scale))
        self.failed = []   # (kind, trial, text)

    def env(self, folder):
        env = dict(os.environ)
        env["TMPDIR"] = os.path.join(folder, "tmp")
        os.makedirs(env["TMPDIR"], exist_ok=True)
        env["ZW_UI"] = "console"
        return env

    def size(self, n):
        return max(1000, int(n * self.scale))

    def make_data(self):
        c = Content(self.args.seed)
        for i in range(40):
            c.write(os.path.join(self.src, "base", "f%02d.dat" % i), self.size(1_000_000))
        for i in range(10):
            c.write(os.path.join(self.src, "more", "n%02d.dat" % i), self.size(2_000_000))
        c.write(os.path.join(self.work, "src-replacement", "base", "f01.dat"),
                self.size(1_500_000))
        # bkup: the sample's families, larger; the new data changes every file and adds some.
        old_files = ["fi0001", "fi0004", "fi0020", "pe0001", "sy0001", "sy0125", "arc0001",
                     "vi0001"]
        for tree, extra in (("bkup-old", []), ("bkup-new", ["fi0030", "pe0002"])):
            data = os.path.join(self.work, tree, "data")
            for stem in old_files + extra:
                c.write(os.path.join(data, stem + ".dat"), self.size(1_500_000))
                c.write(os.path.join(data, stem + ".idx"), self.size(300_000))
            pictures = ["h0001", "h0002", "m0001", "g0001"] + (["h0003"] if extra else [])
            for stem in pictures:
                path = os.path.join(data, "Picture", stem + ".jpg")
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(b"\xff\xd8\xff\xe0" + c.rng.randbytes(self.size(500_000)))
            c.write(os.path.join(self.work, tree, "notes.txt"), 100)
            c.write(os.path.join(self.work, tree, "vess_rpt.dic"), self.size(10_000))
            c.write(os.path.join(data, "notes.txt"), 29)

    def journals(self, folder, kind):
        arch = os.path.join(folder, kind.archive_dir)
        return sorted(n for n in os.listdir(arch) if n.endswith("-journal"))

    def list_archive(self, folder, kind):
        return subprocess.run([self.zipwriter, "list", kind.archive_path(folder)],
                              cwd=folder, env=self.env(folder), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)

    def describe_damage(self, folder, kind, listing):
        lines = ["  zipwriter list: status %d, stderr %r" % (listing.returncode,
                                                          listing.stderr.strip())]
        arch = os.path.join(folder, kind.archive_dir)
        for name in sorted(os.listdir(arch)):
            if name in kind.other_known(folder):
                continue
            lines.append("  %s: %d bytes" % (name, os.path.getsize(os.path.join(arch, name))))
        if shutil.which("unzip") and os.path.exists(kind.archive_path(folder)):
            t = subprocess.run(["unzip", "-t", kind.archive_path(folder)], capture_output=True,
                               text=True, errors="replace")
            out = (t.stdout + t.stderr).strip().splitlines()
            lines.append("  unzip -t (status %d):" % t.returncode)
            lines += ["    " + line for line in out[:12] + (["..."] + out[-4:]
                                                           if len(out) > 16 else out[12:])]
        lines.append("  kept in %s" % folder)
        return "\n".join(lines)

    def trial(self, kind, number, stats):
        folder = os.path.join(self.work, "trials", "%s-%03d" % (kind.name, number))
        kind.prepare(folder)
        argv, cwd = kind.command(folder)
        delay = self.rng.uniform(0, kind.run_time)
        with open(os.path.join(folder, "run.out"), "wb") as out:
            p = subprocess.Popen(argv, cwd=cwd, env=self.env(folder), stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=subprocess.STDOUT)
            try:
                p.wait(timeout=delay)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        killed = p.returncode == -9
        problems = []
        if not killed and p.returncode != 0:
            problems.append("the update ended with status %d" % p.returncode)
        stats["killed"] += killed
        stats["journal after kill"] += bool(self.journals(folder, kind))

        listing = self.list_archive(folder, kind)
        line_seen = RECOVERED_LINE in listing.stderr
        stats["recovered line"] += line_seen
        left = self.journals(folder, kind)
        if left:
            stats["journal left"] += 1
            problems.append("journal left after the recovering opening: %s" % left)
        fc = [n for n in os.listdir(os.path.join(folder, "tmp")) if fnmatch.fnmatch(n, "FC*.tmp")]
        stats["FC left"] += len(fc)
        arch = os.path.join(folder, kind.archive_dir)
        known = set(kind.archive_files(folder)) | kind.other_known(folder)
        stray = sorted(n for n in os.listdir(arch) if n not in known and not n.endswith("-journal"))
        if stray:
            problems.append("stray files beside the archive: %s" % stray)

        try:
            outcome, detail = kind.classify(folder)
        except Damage as e:
            outcome, detail = "DAMAGED", str(e)
        stats[outcome] += 1
        if detail:
            key = "%s: %s" % (outcome, re.sub(r"\d+ sets in", "n sets in", detail))
            stats["notes"][key] = stats["notes"].get(key, 0) + 1
            if outcome == "partial":
                stats["sets"].append(int(detail.split()[0]))
        if line_seen and outcome == "new":
            problems.append("the opening said it undid an update, but the archive is the new one")
        if not killed and outcome != "new":
            problems.append("the update completed, but the archive is %s" % outcome)
        if listing.returncode != 0 and not (outcome == "old" and not kind.old_files):
            problems.append("zipwriter list ended with status %d: %s"
                            % (listing.returncode, listing.stderr.strip()))
        if outcome != "DAMAGED":
            again = self.list_archive(folder, kind)
            if RECOVERED_LINE in again.stderr:
                problems.append("a second opening undid an update again")
        if outcome == "DAMAGED" or problems:
            when = "killed %.3f s after start (%.0f%% of %.3f s)" % (
                delay, 100 * delay / kind.run_time, kind.run_time) if killed else \
                "not killed (status %d)" % p.returncode
            text = "%s trial %d: %s, %s; %s" % (kind.name, number, when, outcome,
                                                "; ".join(([detail] if outcome == "DAMAGED"
                                                           else []) + problems))
            self.failed.append(text + "\n" + self.describe_damage(folder, kind, listing))
        elif not self.keep:
            shutil.rmtree(folder)
        if self.args.verbose:
            print("%-8s %3d delay %.3f killed %-5s %-8s %s line=%s" % (
                kind.name, number, delay, killed, outcome, detail, line_seen), flush=True)

    def size_limit_runs(self, kinds):
        """Updates cut by a file size limit: an error status, the old archive, no journal."""
        results = []
        by_name = {k.name: k for k in kinds}
        plans = []
        if "append" in by_name:
            k = by_name["append"]
            old = os.path.getsize(os.path.join(self.templates, k.name, k.archive_dir,
                                               k.archive_name))
            plans.append((k, "append, cut in the new data", old + (self.grow(k) // 2)))
            plans.append((k, "append, cut in the directory", old + self.grow(k) - 40))
        if "replace" in by_name:
            k = by_name["replace"]
            old = os.path.getsize(os.path.join(self.templates, k.name, k.archive_dir,
                                               k.archive_name))
            if self.grow(k) > 100:
                plans.append((k, "replace, cut in the rewritten tail", old + self.grow(k) // 2))
        if "split" in by_name:
            k = by_name["split"]
            plans.append((k, "split, cut in a volume", self.volume_size * 3 // 4))
        for number, (kind, label, limit) in enumerate(plans):
            folder = os.path.join(self.work, "trials", "limit-%d" % number)
            kind.prepare(folder)
            argv, cwd = kind.command(folder)

            def limit_size(limit=limit):
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

            run = subprocess.run(argv, cwd=cwd, env=self.env(folder), stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True, preexec_fn=limit_size,
                                 restore_signals=True)
            listing = self.list_archive(folder, kind)
            files = kind.archive_files(folder)
            if files == kind.old_files:
                state = "old"
            else:
                try:
                    state = "new" if kind.entries(folder) == kind.new_entries else "CHANGED"
                except Damage:
                    state = "DAMAGED"
            # The write error ends the run (1), or, met while an entry's data is written,
            # it is a per-file failure whose question gets Abort without a terminal (3).
            # A split set may also take the limit as the room left on a volume and go on
            # with the next one: then the update must be complete.
            ok = ((run.returncode in (1, 3) and state == "old") or
                  (kind.name == "split" and run.returncode == 0 and state == "new")) and \
                not self.journals(folder, kind) and listing.returncode == 0
            result = "%-36s limit %10d: status %s, archive %s, journal %s -> %s" % (
                label, limit, run.returncode if run.returncode >= 0 else
                "signal %d" % -run.returncode, state,
                "left" if self.journals(folder, kind) else "none", "ok" if ok else "FAILED")
            results.append(result)
            if not ok:
                self.failed.append("file size limit: %s\n  stderr: %s\n%s" % (
                    result, run.stderr.strip(), self.describe_damage(folder, kind, listing)))
            elif not self.keep:
                shutil.rmtree(folder)
        return results

    def grow(self, kind):
        old = os.path.getsize(os.path.join(self.templates, kind.name, kind.archive_dir,
                                           kind.archive_name))
        return kind.new_size - old

    def run(self):
        start = time.monotonic()
        self.make_data()
        kinds = [AppendKind(self), ReplaceKind(self), SplitKind(self), CreateKind(self),
                 BkupKind(self)]
        if self.args.kinds:
            wanted = self.args.kinds.split(",")
            kinds = [k for k in kinds if k.name in wanted]
        for k in kinds:
            k.setup()
            print("%-8s uninterrupted update %.3f s; old archive %s, new %s bytes%s" % (
                k.name, k.run_time,
                "absent" if not k.old_files else "%d entries" % len(k.old_entries),
                "{:,}".format(k.new_size),
                "" if k.deterministic else " (two uninterrupted runs differ in bytes)"),
                flush=True)
        rows = []
        for k in kinds:
            stats = {key: 0 for key in ("killed", "old", "new", "partial", "DAMAGED",
                                        "journal after kill", "journal left", "FC left",
                                        "recovered line")}
            stats["notes"] = {}
            stats["sets"] = []
            for n in range(self.args.trials):
                self.trial(k, n, stats)
            rows.append((k, stats))
        limits = self.size_limit_runs(kinds) if not self.args.no_size_limit else []

        columns = ["kind", "trials", "killed", "old", "new", "partial", "DAMAGED",
                   "journal after kill", "journal left", "FC left", "recovered line"]
        widths = [max(len(c), 8) for c in columns]
        print()
        print("  ".join(c.rjust(w) for c, w in zip(columns, widths)))
        for k, s in rows:
            cells = [k.name, self.args.trials] + [s[c] for c in columns[2:]]
            print("  ".join(str(v).rjust(w) for v, w in zip(cells, widths)))
        for k, s in rows:
            for note, count in sorted(s["notes"].items()):
                print("  %s: %d x %s" % (k.name, count, note))
            if s["sets"]:
                counts = {}
                for n in s["sets"]:
                    counts[n] = counts.get(n, 0) + 1
                print("  %s: partial outcomes, sets in (of %d): count = %s" % (
                    k.name, len(k.prefix_states) + 1,
                    ", ".join("%d: %d" % (n, counts[n]) for n in sorted(counts))))
        if limits:
            print("\nfile size limit (RLIMIT_FSIZE):")
            for line in limits:
                print("  " + line)
        print("\n%d trials in %.0f s" % (self.args.trials * len(kinds) + len(limits),
                                         time.monotonic() - start))
        if self.failed or self.keep:
            print("work folder kept: %s" % self.work)
        if self.failed:
            print("\nFAILED:")
            for text in self.failed:
                print(text)
            return 1
        if not self.keep:
            shutil.rmtree(self.work)
        return 0


def main():
    parser = argparse.ArgumentParser(
        description="Kill real archive updates at random moments and check what the next "
                    "opening leaves.")
    parser.add_argument("--bin", default="build/bin", help="folder of zipwriter and bkup")
    parser.add_argument("--work", help="folder for the work folder (default: a temp folder)")
    parser.add_argument("--trials", type=int, default=40, help="trials per kind (default 40)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--scale", default="default",
                        help="data size: small, default (about 60 MB per kind) or a factor")
    parser.add_argument("--kinds", help="comma-separated: append,replace,split,create,bkup")
    parser.add_argument("--no-size-limit", action="store_true",
                        help="leave out the file size limit runs")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--verbose", action="store_true", help="one line per trial")
    args = parser.parse_args()
    try:
        harness = Harness(args)
        return harness.run()
    except (SetupError, Damage) as e:
        print("crash_trials: setup failed: %s" % e, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
