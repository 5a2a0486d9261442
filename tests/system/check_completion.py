#!/usr/bin/python3
"""zorvik's bash completion against zorvik's own command table (its --help):
the commands, every option of each, the values of -b, --kind and the
positionals, the NAME=on|off settings, and the port names of `zorvik ports`.
The completion runs in a real bash with Debian's bash-completion."""

import os
import re
import subprocess
import unittest

ZORVIK = os.environ.get("ZORVIK_CLI", "zorvik")
SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")
COMPLETION = os.environ.get("ZORVIK_COMPLETION", "zorvik.bash-completion")
FRAMEWORK = "/usr/share/bash-completion/bash_completion"


def complete(*words):
    """What bash offers for the last word of `zorvik WORDS...`."""
    line = " ".join(("zorvik",) + words)
    script = ('source "$0"; source "$1"; COMP_WORDS=(zorvik "${@:2}"); COMP_CWORD=$(($# - 1)); '
              'COMP_LINE="$LINE"; COMP_POINT=${#COMP_LINE}; _zorvik; printf "%s\\n" "${COMPREPLY[@]}"')
    env = dict(os.environ, LINE=line, PATH=os.path.dirname(os.path.abspath(ZORVIK)) + ":" + os.environ["PATH"])
    run = subprocess.run(["bash", "-c", script, FRAMEWORK, COMPLETION, *words], capture_output=True, text=True,
                         env=env, timeout=30)
    return set(filter(None, run.stdout.splitlines()))


def help_text(*command):
    return subprocess.run([ZORVIK, *command, "--help"], capture_output=True, text=True, check=True).stdout


def section(text, title):
    """The entry lines of one section of the help ("Options:", "Commands:")."""
    body = text.split("\n" + title + "\n", 1)[1]
    return [line for line in body.split("\n\n", 1)[0].splitlines() if re.match(r"^  \S", line)]


def options(text):
    return {name for line in section(text, "Options:") for name in line.split()[0].split(",")}


def choices(text, entry):
    """The {a,b,c} set the help shows for an option or positional."""
    line = next(line for line in text.splitlines() if re.match(r"^  %s[ ,]" % re.escape(entry), line))
    return set(re.search(r"\{([^}]*)\}", line).group(1).split(","))


class Completion(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = help_text()
        cls.commands = [line.split()[0] for line in section(cls.top, "Commands:")]

    def test_commands_and_global_options(self):
        self.assertEqual(complete(""), set(self.commands) | options(self.top))

    def test_options_of_each_command(self):
        for command in self.commands:
            with self.subTest(command=command):
                self.assertEqual(complete(command, "-"), options(help_text(command)))

    def test_values(self):
        flash, top = help_text("flash"), self.top
        cases = [
            (("-b", ""), choices(top, "-b")),
            (("flash", "--kind", ""), choices(flash, "--kind")),
            (("restart", ""), choices(help_text("restart"), "KIND")),
            (("baud", ""), choices(help_text("baud"), "RATE")),
            (("agps", ""), choices(help_text("agps"), "KIND")),
        ]
        for words, expected in cases:
            with self.subTest(words=words):
                self.assertEqual({w for w in complete(*words) if not w.startswith("-")}, expected)

    def test_sentence_settings(self):
        names = re.search(r"NAME is one of ([A-Z, ]+)", help_text("sentences")).group(1).split(", ")
        expected = {"%s=%s" % (n, v) for n in names for v in ("on", "off")}
        self.assertEqual({w for w in complete("sentences", "") if "=" in w}, expected)
        self.assertEqual(complete("sentences", "GS"), {"GSA=on", "GSA=off", "GSV=on", "GSV=off"})

    def test_port_names(self):
        name = "ZCOMP%d" % os.getpid()
        sim = subprocess.Popen([SIM, "--port-name", name, "--exit-with-parent"], stdout=subprocess.PIPE, text=True)
        try:
            while "ready" not in sim.stdout.readline():
                pass
            self.assertIn(name, complete("-p", "ZCOMP"))
            self.assertEqual(complete("-p", "rfc"), {"rfc2217://"})
            self.assertIn("tcp://", complete("-p", ""))
            self.assertEqual(complete("-p", "tcp://bench:40"), set())
        finally:
            sim.terminate()
            sim.wait(5)
            sim.stdout.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
