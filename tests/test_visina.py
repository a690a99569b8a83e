#!/usr/bin/env python3
"""Black-box tests of visina: the exact bytes it writes, silence on standard
error and its exit status, through pipes and through a pseudo-terminal, and
what a console shows of visina.exe.

Usage: test_visina.py [unittest arguments] -- PROGRAM [ARGUMENTS...]
"""
import os
import re
import select
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import fcntl
    import pty
    import resource
    import termios
    import tty
except ImportError:  # not POSIX
    pty = resource = None

COMMAND = []  # any emulator, then the program under test, from the command line
WINDOWS = False  # a Windows program: standard output ends its lines in CR LF
TIMEOUT = 10
KEEPER = None  # under an emulator, a run of the program that waits while the tests run
LAST = None  # how the last run ended: its status, what it wrote, its standard error

ASK_HEIGHT = b"unnesite visinu osobe (cm): "
ASK_NAME = b"unesite ime osobe: "


def report(name, height):
    return b"Osoba " + name + b" je visoka " + height + (b"cm.\r\n" if WINDOWS else b"cm.\n")


def error_file():
    """Where the program's standard error goes. A file, not a pipe: an emulator
    such as Wine may start helpers that inherit it and outlive the program by
    seconds, and reading a pipe to its end would wait for them."""
    return tempfile.TemporaryFile()


def contents(file):
    file.seek(0)
    return file.read()


def run(typed, arguments=(), **kwargs):
    kwargs.setdefault("stdout", subprocess.PIPE)
    if "stdin" not in kwargs:
        kwargs["input"] = typed
    with error_file() as errors:
        result = subprocess.run(COMMAND + list(arguments), stderr=errors, timeout=TIMEOUT, **kwargs)
        result.stderr = contents(errors)
    ended(result.returncode, result.stdout, result.stderr)
    return result


def ended(status, wrote, errors):
    global LAST
    LAST = status, wrote, errors


def emulator_failure():
    """Why the last run failed, where Wine failed it rather than the program,
    as it does a few times in a thousand starts: its client loses the server,
    its loader trips at exit, or the start ends with status 1 before anything
    is written and with nothing said. Otherwise None."""
    if len(COMMAND) < 2 or LAST is None:
        return None
    status, wrote, errors = LAST
    if b"wine client error" in errors or b"Inconsistency detected by ld.so" in errors:
        return errors.decode(errors="replace").strip()
    return "status 1 and nothing written" if status == 1 and not wrote and not errors else None


def read_for(fd, size, timeout=TIMEOUT):
    """Read until size bytes have come, the writer is gone or time is up."""
    data = b""
    deadline = time.monotonic() + timeout
    while len(data) < size:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        try:
            chunk = os.read(fd, 65536)
        except OSError:  # a pseudo-terminal whose other side is closed
            break
        if not chunk:
            break
        data += chunk
    return data


def setUpModule():
    # An emulator such as Wine starts services on its first run that keep the
    # streams they were given; they must not be a pipe that a test waits on.
    # That run then waits at its first question until the tests end, as Wine's
    # server leaves when its last program does, and a start that meets it
    # leaving fails.
    global KEEPER
    if len(COMMAND) > 1:
        KEEPER = subprocess.Popen(
            COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL
        )
        read_for(KEEPER.stdout.fileno(), len(ASK_HEIGHT), timeout=100)


def tearDownModule():
    if KEEPER:
        KEEPER.stdin.close()  # the end of its input: it answers and ends
        KEEPER.wait(TIMEOUT)
        KEEPER.stdout.close()


class Case(unittest.TestCase):
    def steadily(self, check, *args, **kwargs):
        """Runs check, and once more where the emulator, not the program, failed it."""
        global LAST
        LAST = None
        try:
            return check(*args, **kwargs)
        except Exception:
            why = emulator_failure()
            if why is None:
                raise
        print(f"{self.id()}: the emulator failed ({why}); once more", file=sys.stderr, flush=True)
        LAST = None
        return check(*args, **kwargs)


class Dialogue(Case):
    CASES = [
        # typed, name, height
        (b"180\nAna\n", b"Ana", b"180"),
        (b"180 Ana\n", b"Ana", b"180"),
        (b"180\nAna Marija\n", b"Ana", b"180"),
        (b"\n\n \t180\n\n\t Ana\n", b"Ana", b"180"),
        (b"180\r\nAna\r\n", b"Ana", b"180"),
        (b"180\v\fAna", b"Ana", b"180"),
        (b"+180\nAna\n", b"Ana", b"180"),
        (b"090\nAna\n", b"Ana", b"90"),
        (b"0\nAna\n", b"Ana", b"0"),
        (b"-5\nAna\n", b"Ana", b"-5"),
        (b"1000000\nAna\n", b"Ana", b"1000000"),
        (b"2147483647\nAna\n", b"Ana", b"2147483647"),
        (b"-2147483648\nAna\n", b"Ana", b"-2147483648"),
        # Not a number, or out of range: nothing more is read.
        (b"Ana\n180\n", b"", b"0"),
        (b"+\nAna\n", b"", b"0"),
        (b"- 5\nAna\n", b"", b"0"),
        (b"2147483648\nAna\n", b"", b"2147483647"),
        (b"-2147483649\nAna\n", b"", b"-2147483648"),
        (b"99999999999999999999\nAna\n", b"", b"2147483647"),
        # What follows the digits at once is the name.
        (b"175.5\nAna\n", b".5", b"175"),
        (b"180cm\nAna\n", b"cm", b"180"),
        # Input that ends early.
        (b"", b"", b"0"),
        (b" \n\t\n", b"", b"0"),
        (b"180", b"", b"180"),
        (b"180\n \n", b"", b"180"),
        # Name bytes pass through unchanged: UTF-8, code page 1250, NUL, NBSP.
        ("180\nČedomir\n".encode(), "Čedomir".encode(), b"180"),
        (b"180\n\xe8ika\n", b"\xe8ika", b"180"),
        (b"180\nA\x00na\n", b"A\x00na", b"180"),
        (b"180\n\xa0Ana\n", b"\xa0Ana", b"180"),
    ]

    def test_report(self):
        for typed, name, height in self.CASES:
            with self.subTest(typed=typed):
                self.steadily(self.answers, typed, name, height)

    def test_arguments_and_locale_are_ignored(self):
        env = dict(os.environ, LC_ALL="hr_HR.UTF-8", LANG="hr_HR.UTF-8")
        self.steadily(self.answers, b"1000\nAna\n", b"Ana", b"1000", ["--help", "-"], env=env)

    def answers(self, typed, name, height, arguments=(), **kwargs):
        result = run(typed, arguments, **kwargs)
        self.assertEqual(result.stdout, ASK_HEIGHT + ASK_NAME + report(name, height))
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 0)


@unittest.skipUnless(pty, "needs POSIX pipes and a pseudo-terminal")
class Prompts(Case):
    """Each prompt must be shown before the program waits for its answer, and
    the program must finish without waiting for input it does not need."""

    CONVERSATIONS = [
        # answers, each sent once everything before it is shown; name, height
        ([b"180\n", b"Ana\n"], b"Ana", b"180"),
        ([b"180 Ana\n"], b"Ana", b"180"),
        ([b"180cm\n"], b"cm", b"180"),
        ([b"Ana\n"], b"", b"0"),
    ]

    def test_conversation(self):
        # A Windows console is not a POSIX terminal: its program is tried on pipes only.
        for terminal in (False,) if WINDOWS else (False, True):
            for answers, name, height in self.CONVERSATIONS:
                with self.subTest(terminal=terminal, answers=answers):
                    self.steadily(self.converse, answers, name, height, terminal)

    def converse(self, answers, name, height, terminal):
        errors = error_file()
        if terminal:
            ours, theirs = pty.openpty()
            proc = subprocess.Popen(COMMAND, stdin=theirs, stdout=theirs, stderr=errors)
            os.close(theirs)
            reader = writer = ours
        else:
            proc = subprocess.Popen(
                COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors
            )
            reader, writer = proc.stdout.fileno(), proc.stdin.fileno()
        # A terminal echoes each answer and shows each line end as CR LF.
        shown = (lambda text: text.replace(b"\n", b"\r\n")) if terminal else (lambda text: text)
        wrote = b""
        try:
            pending = [ASK_HEIGHT, ASK_NAME, report(name, height)]
            expected = shown(pending.pop(0))
            for answer in answers:
                wrote += read_for(reader, len(expected) - len(wrote))
                self.assertEqual(wrote, expected)
                os.write(writer, answer)
                expected += shown((answer if terminal else b"") + pending.pop(0))
            expected += shown(b"".join(pending))
            wrote += read_for(reader, len(expected) - len(wrote))
            self.assertEqual(wrote, expected)
            self.assertEqual(proc.wait(TIMEOUT), 0)
            self.assertEqual(contents(errors), b"")
        finally:
            proc.kill()
            proc.wait()
            ended(proc.returncode, wrote, contents(errors))
            if terminal:
                os.close(ours)
            else:
                proc.stdin.close()
                proc.stdout.close()
            errors.close()


@unittest.skipUnless(resource, "needs POSIX descriptors and resource limits")
class ExitStatus(Case):
    def test_failed_io_is_a_failure(self):
        directory = os.open("/", os.O_RDONLY)  # every read of it fails
        self.addCleanup(os.close, directory)
        with open("/dev/full", "wb") as full:
            for label, kwargs in [
                ("stdout full", dict(stdout=full)),
                ("stdout closed", dict(stdout=None, preexec_fn=lambda: os.close(1))),
                ("stdin unreadable", dict(stdin=directory)),
            ]:
                with self.subTest(label):
                    self.steadily(self.fails, kwargs)

    def fails(self, kwargs):
        result = run(b"180\nAna\n", **kwargs)
        if result.stdout is not None:
            self.assertEqual(result.stdout, ASK_HEIGHT + ASK_NAME + report(b"", b"0"))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, b"")

    def test_lost_report_is_a_failure(self):
        self.steadily(self.lose_report)

    def lose_report(self):
        # The reader leaves once both prompts are shown. SIGPIPE is ignored, as
        # where there is none, so only the exit status can tell of the loss.
        ignore = lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)
        shown = b""
        with error_file() as errors, subprocess.Popen(
            COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors,
            preexec_fn=ignore,
        ) as proc:
            try:
                proc.stdin.write(b"180\n")
                proc.stdin.flush()
                prompts = ASK_HEIGHT + ASK_NAME
                shown = read_for(proc.stdout.fileno(), len(prompts))
                self.assertEqual(shown, prompts)
                proc.stdout.close()
                proc.stdin.write(b"Ana\n")
                proc.stdin.close()
                self.assertEqual(proc.wait(TIMEOUT), 1)
                self.assertEqual(contents(errors), b"")
            finally:
                proc.kill()
                ended(proc.wait(), shown, contents(errors))

    def test_name_cut_short_by_memory_is_a_failure(self):
        limit = 64 << 20

        def cap():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        if run(b"180\nAna\n", preexec_fn=cap).returncode != 0:
            self.skipTest("the program cannot run under the limit (sanitizers and Wine reserve more)")
        result = run(b"180\n" + b"x" * limit + b"\n", preexec_fn=cap)
        head, tail = ASK_HEIGHT + ASK_NAME + b"Osoba ", report(b"", b"180")[len(b"Osoba ") :]
        self.assertTrue(result.stdout.startswith(head), result.stdout[:80])
        self.assertTrue(result.stdout.endswith(tail), result.stdout[-80:])
        name = result.stdout[len(head) : -len(tail)]
        self.assertTrue(0 < len(name) < limit and not name.strip(b"x"), len(name))
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 1)


def render(shown):
    """The lines a terminal shows of what Wine's console wrote to it: the
    cursor moves it writes for spaces become spaces, other escape sequences
    go. Bytes that are not UTF-8 become lone surrogates, never U+FFFD."""
    text = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m[1] or 1), shown)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", text)
    text = re.sub(rb"\r+\n", b"\n", text).rstrip(b"\n")
    return text.decode("utf-8", "surrogateescape").split("\n")


class Console(Case):
    """visina.exe on a console: names come back as typed, whatever the
    console's code page, which is left as it was. Under Wine a pseudo-terminal
    is the console; on Windows, a console of its own at each code page."""

    LONG = "ž€" * 5000  # a pasted name of 10,000 letters of two and three bytes
    CASES = [
        # typed lines, or bytes piped in; the answer in a file, else on the
        # console; the name and the height it states
        (["172", "Šimić"], False, "Šimić", "172"),
        (["172", "Đurđica"], False, "Đurđica", "172"),
        (["172", "Đurđica"], True, "Đurđica", "172"),
        (["172", "Čedo\x1a"], False, "Čedo", "172"),  # Ctrl+Z, then Enter, ends the input
        (["172", "\x1a"], False, "", "172"),
        (["１８０"], False, "", "0"),  # fullwidth digits are not a number
        (["172", "Ana😀"], True, "Ana😀", "172"),  # a console may draw it as two marks
        (["172", LONG], True, LONG, "172"),
        ("172\nĐurđica\n".encode(), False, "Đurđica", "172"),
        (b"172\n\xe8ika\n", False, "\ufffdika", "172"),  # not UTF-8
        (b"172\nA\xc0\xafna\n", False, "A\ufffd\ufffdna", "172"),  # "/", overlong
        (b"172\nA\xed\xa0\x80na\n", False, "A\ufffd\ufffd\ufffdna", "172"),  # a surrogate
        (b"172\nA\xf4\x90\x80\x80na\n", False, "A" + "\ufffd" * 4 + "na", "172"),  # past U+10FFFF
        (f"172\n{'€' * 800}\n".encode(), False, "€" * 800, "172"),  # longer than a write
    ]
    # Longer than one read, which ends inside a pair. A Windows console may
    # cut a line at the length of the read that waits for it: Wine alone
    # gets this one.
    SPLIT = "a" + "😀" * 8200
    # The terminal hangs up while the name is awaited: a failed read, not the
    # end of the input, so the status is 1.
    HANG_UP = "(hangs up)"
    WINE_CASES = [(["172", SPLIT], True, SPLIT, "172"), (["172", HANG_UP], True, "", "172")]
    # A lone surrogate, which a UTF-8 terminal cannot send.
    WINDOWS_CASES = [(["172", "A\ud800na"], True, "A\ufffdna", "172")]

    def setUp(self):
        if not WINDOWS:
            self.skipTest("a terminal takes and gives a Linux program's bytes as they are")
        if sys.platform != "win32" and not pty:
            self.skipTest("needs Windows, or Wine and a pseudo-terminal")

    def test_names_come_back_as_typed(self):
        windows = sys.platform == "win32"
        for typed, to_file, name, height in self.CASES + (
            self.WINDOWS_CASES if windows else self.WINE_CASES
        ):
            for codepage in (437, 1252, 65001) if windows else (None,):
                with self.subTest(repr(typed)[:40], to_file=to_file, codepage=codepage):
                    self.steadily(self.shows, typed, to_file, name, height, codepage)

    def shows(self, typed, to_file, name, height, codepage):
        run = self.on_windows if sys.platform == "win32" else self.on_wine
        shown, written = run(typed, to_file, codepage)
        if to_file:
            expected = ASK_HEIGHT + ASK_NAME + report(name.encode(), height.encode())
            self.assertEqual(written, expected)
        else:
            answer = f"Osoba {name} je visoka {height}cm."
            self.assertTrue(shown[-1].endswith(answer), shown[-1][-80:])

    def on_wine(self, typed, to_file, _):
        """Runs the program under Wine on a pseudo-terminal, which Wine makes
        its console; returns the lines it shows and what went to the file."""
        ours, theirs = pty.openpty()
        # Raw from the start, as the console may read before Wine sets the
        # terminal so: what is typed early must not be echoed or changed.
        # Wine keeps ISIG as it finds it, and Ctrl+Z is for the console.
        tty.setraw(theirs)
        fcntl.ioctl(theirs, termios.TIOCSWINSZ, struct.pack("4H", 25, 2000, 0, 0))
        piped = typed if isinstance(typed, bytes) else None
        hang_up = piped is None and self.HANG_UP in typed
        with error_file() as errors, tempfile.TemporaryFile() as file, subprocess.Popen(
            COMMAND,
            stdin=theirs if piped is None else subprocess.PIPE,
            stdout=file if to_file else theirs,
            stderr=errors,
            env=dict(os.environ, LC_ALL="C.UTF-8"),  # the terminal's bytes are UTF-8
        ) as proc:
            os.close(theirs)
            if piped is not None:
                proc.stdin.write(piped)
                proc.stdin.close()
            shown, deadline = b"", time.monotonic() + TIMEOUT
            while time.monotonic() < deadline:
                asked = os.pread(file.fileno(), 64, 0) if to_file else render(shown)[0].encode()
                if piped is None and typed and asked.startswith(ASK_HEIGHT[:8]):
                    lines = (line + "\r" for line in typed if line != self.HANG_UP)
                    self.type_ahead(ours, "".join(lines))
                    typed = None
                if hang_up and asked == ASK_HEIGHT + ASK_NAME:
                    break
                if select.select([ours], [], [], 0.1)[0]:
                    try:
                        shown += os.read(ours, 65536)
                    except OSError:  # no one has the terminal open any more
                        break
                elif proc.poll() is not None:
                    break
            os.close(ours)
            ended(proc.wait(TIMEOUT), shown + contents(file), contents(errors))
            self.assertEqual(proc.returncode, 1 if hang_up else 0)
            self.assertEqual(contents(errors), b"")
            return render(shown), contents(file)

    @staticmethod
    def type_ahead(terminal, text):
        # The console keeps what comes early. A little at a time: Wine decodes
        # the terminal's bytes read by read, and two reads may split a letter.
        for start in range(0, len(text), 100):
            os.write(terminal, text[start : start + 100].encode())
            time.sleep(0.01)

    def on_windows(self, typed, to_file, codepage):
        """Runs the program from cmd in a new console set to codepage, and
        chcp after it; returns the lines shown before chcp's and what went to
        the file."""
        with tempfile.TemporaryDirectory() as folder:
            command = f'chcp {codepage} >nul & "{os.path.normpath(COMMAND[-1])}"'
            if isinstance(typed, bytes):
                piped = os.path.join(folder, "piped")
                with open(piped, "wb") as file:
                    file.write(typed)
                command, typed = command + f' <"{piped}"', []
            answer = os.path.join(folder, "answer")
            if to_file:
                command += f' >"{answer}"'
            driver = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows_console.py")
            typed = "".join(line + "\r" for line in typed).encode("utf-8", "surrogatepass")
            result = subprocess.run(
                [sys.executable, driver, command + " & chcp"], input=typed, capture_output=True,
                timeout=3 * TIMEOUT, creationflags=subprocess.DETACHED_PROCESS,
            )
            self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
            shown = result.stdout.decode("utf-8", "surrogatepass").split("\n")
            # chcp shows the code page the program found, not one it set; in
            # ASCII digits, as \d would take the fullwidth ones of a line before.
            self.assertEqual(re.sub(r"[^0-9]", "", shown[-1]), str(codepage))
            if not to_file:
                return shown[:-1], None
            with open(answer, "rb") as file:
                return shown[:-1], file.read()


if __name__ == "__main__":
    split = sys.argv.index("--")
    COMMAND = sys.argv[split + 1 :]
    WINDOWS = COMMAND[-1].lower().endswith(".exe")
    result = unittest.main(argv=sys.argv[:split], exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    # 77 tells CTest that nothing was tested here, rather than that it passed.
    sys.exit(77 if len(result.skipped) == result.testsRun else 0)
