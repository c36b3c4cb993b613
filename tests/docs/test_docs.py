"""Checks the documents that ship with the programs against the programs
themselves, so that the two cannot drift apart:

- each manual page passes `mandoc -Tlint` without a single message, names
  the version the programs report, and describes under OPTIONS every option
  its program's --help prints;
- each bash completion file, sourced into `bash --norc`, registers its
  program, completes `--prog` to `--progress` (tcpflash) and offers every
  option --help prints.

    python3 tests/docs/test_docs.py --tool PATH --many PATH --sim PATH --man DIR
                                    [--completion DIR] [--strict] [unittest args]

--tool, --many and --sim name the three programs; --man holds the pages
(NAME.1, or NAME.1.gz as packaged); --completion the completion files, each
named after its program. Without mandoc (or bash) those checks are skipped,
with --strict (the package tests) they fail.
"""

import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PROGRAMS = ("tcpflash", "tcpflash-many", "tcpflash-sim")
TIMEOUT_S = 60

# An option as a usage text or a page spells it: -h, --image, /?; not a
# hyphenated word, a negative number or a range (1-3).
OPTION = re.compile(r"(?<![\w/-])(--?[A-Za-z][\w-]*|/\?)")

_args = argparse.Namespace(programs={}, man=None, completion=None, strict=False)


# Another program's option that a usage text names ("tcpflash --info").
OTHER_PROGRAMS_OPTION = re.compile(r"\b(tcpflash(?:-many|-sim)?)\s+(--?[A-Za-z][\w-]*)")


def help_options(program):
    """The options `program --help` names anywhere in its text, but for those
    of another program it names with them."""
    out = subprocess.run([_args.programs[program], "--help"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=TIMEOUT_S, check=True).stdout
    text = OTHER_PROGRAMS_OPTION.sub(
        lambda m: m.group(0) if m.group(1) == program else "", out.decode("ascii"))
    return set(OPTION.findall(text))


def page_path(program):
    for name in (program + ".1", program + ".1.gz"):
        path = os.path.join(_args.man, name)
        if os.path.exists(path):
            return path
    raise AssertionError("no manual page for %s in %s" % (program, _args.man))


def page_source(program):
    path = page_path(program)
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as f:
        return f.read().decode("utf-8")


def plain(roff_line):
    """The text of one roff line: macro name, quotes, font changes and
    escapes removed."""
    text = re.sub(r"^\.[A-Za-z]+\s*", "", roff_line)
    text = re.sub(r"\\f(\[[^]]*\]|.)", "", text)
    text = text.replace("\\-", "-").replace("\\&", "").replace("\\e", "\\")
    return text.replace('"', "")


def described_options(source):
    """The options the OPTIONS section describes: those in the tags of its
    lists (.TP and .TQ), subsections included."""
    options = set()
    in_options = False
    lines = source.splitlines()
    for i, line in enumerate(lines):
        if line.startswith(".SH"):
            in_options = plain(line).strip() == "OPTIONS"
        elif in_options and line.split()[:1] in ([".TP"], [".TQ"]) and i + 1 < len(lines):
            options.update(OPTION.findall(plain(lines[i + 1])))
    return options


def require(tool):
    """The path of tool, or skips the test (fails it with --strict)."""
    path = shutil.which(tool)
    if path is None:
        if _args.strict:
            raise AssertionError("%s is not installed" % tool)
        raise unittest.SkipTest("%s is not installed" % tool)
    return path


class ManualPageTest(unittest.TestCase):
    def test_pages_are_lint_clean(self):
        mandoc = require("mandoc")
        for program in PROGRAMS:
            with self.subTest(program=program):
                run = subprocess.run([mandoc, "-Tlint", page_path(program)],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     timeout=TIMEOUT_S)
                self.assertEqual((run.returncode, run.stdout.decode()), (0, ""))

    def test_pages_describe_every_option_of_help(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                wanted = help_options(program)
                self.assertIn("--image" if program != "tcpflash-sim" else "--port", wanted)
                missing = wanted - described_options(page_source(program))
                self.assertEqual(missing, set(), "options of %s --help not described in its "
                                 "page's OPTIONS" % program)

    def test_pages_name_the_programs_version(self):
        out = subprocess.run([_args.programs["tcpflash"], "--version"],
                             stdout=subprocess.PIPE, timeout=TIMEOUT_S, check=True).stdout
        version = re.match(r"tcpflash (\S+)", out.decode()).group(1)
        for program in PROGRAMS:
            with self.subTest(program=program):
                th = re.search(r"^\.TH .*$", page_source(program), re.M).group(0)
                self.assertIn('"tcpflash %s"' % version, th,
                              "the page's .TH line names another version than --version")


def complete(program, words):
    """What the program's completion offers for the command line words (the
    last one being completed), in bash --norc with only its file sourced.
    Returns (the `complete -p` line, the offers)."""
    script = r'''
source "$1" || exit 1
complete -p "$2" || exit 1
registered=$(complete -p "$2")
func=${registered#*-F }; func=${func%% *}
shift
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
"$func" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
'''
    path = os.path.join(_args.completion, program)
    run = subprocess.run([require("bash"), "--norc", "--noprofile", "-c", script, "bash", path]
                         + [program] + list(words), stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=TIMEOUT_S)
    lines = run.stdout.decode().splitlines()
    if run.returncode != 0 or not lines:
        raise AssertionError("completion of %s failed: %s" % (program, run.stderr.decode()))
    return lines[0], [w for w in lines[1:] if w]


class CompletionTest(unittest.TestCase):
    def setUp(self):
        if _args.completion is None:
            self.skipTest("no --completion")

    def test_prog_completes_to_progress(self):
        registered, offers = complete("tcpflash", ["--prog"])
        self.assertRegex(registered, r"^complete -F \S+ tcpflash$")
        self.assertEqual(offers, ["--progress"])
        self.assertEqual(complete("tcpflash", ["--progress", ""])[1], ["auto", "on", "off"])

    def test_every_option_of_help_is_offered(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                registered, offers = complete(program, ["--"])
                self.assertTrue(registered.endswith(" " + program), registered)
                wanted = {o for o in help_options(program) if o.startswith("--")}
                self.assertEqual(wanted - set(offers), set())

    def test_values_are_files_or_directories(self):
        with tempfile.TemporaryDirectory() as path:
            open(os.path.join(path, "fw 2.bin"), "wb").close()
            os.mkdir(os.path.join(path, "logs"))
            prefix = os.path.join(path, "")
            both = [prefix + "fw 2.bin", prefix + "logs"]
            for program, option, wanted in (
                    ("tcpflash", "--image", both),
                    ("tcpflash", "--events", both),
                    ("tcpflash-many", "--image", both),
                    ("tcpflash-many", "--boards", both),
                    ("tcpflash-many", "--report", both),
                    ("tcpflash-many", "--log-dir", [prefix + "logs"]),
                    ("tcpflash-sim", "--image-out", both)):
                with self.subTest(program=program, option=option):
                    offers = complete(program, [option, prefix])[1]
                    self.assertEqual(sorted(offers), wanted)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    for option in ("--tool", "--many", "--sim"):
        parser.add_argument(option, required=True)
    parser.add_argument("--man", required=True)
    parser.add_argument("--completion", default=None)
    parser.add_argument("--strict", action="store_true")
    args, rest = parser.parse_known_args()
    _args.programs = {"tcpflash": os.path.abspath(args.tool),
                      "tcpflash-many": os.path.abspath(args.many),
                      "tcpflash-sim": os.path.abspath(args.sim)}
    _args.man = os.path.abspath(args.man)
    _args.completion = os.path.abspath(args.completion) if args.completion else None
    _args.strict = args.strict
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
