"""number_pages on real documents from the project's corpus.

Environment: DEDEDIRUZURUD_LIBRARY names the library unless the package is
installed with it; DEDEDIRUZURUD_CLI names the command-line tool, whose output
the package must reproduce byte for byte; DEDEDIRUZURUD_CORPUS overrides the
corpus folder (default: tests/corpus of this checkout).
"""

import concurrent.futures
import errno
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import dedediruzurud
from dedediruzurud import (
    AccessError,
    DedediruzurudError,
    EncryptedPDFError,
    NotFoundError,
    PasswordRequiredError,
    number_pages,
)

CORPUS = pathlib.Path(
    os.environ.get("DEDEDIRUZURUD_CORPUS") or pathlib.Path(__file__).resolve().parents[2] / "tests" / "corpus"
)
TEN_PAGES = CORPUS / "gropdf-groff-man.pdf"
ENCRYPTED = CORPUS.parent / "data" / "encrypted" / "r6-userpw.pdf"
CLI = os.environ.get("DEDEDIRUZURUD_CLI")


def page_text(pdf, page):
    if not shutil.which("pdftotext"):
        pytest.skip("pdftotext (poppler-utils) is not installed")
    run = subprocess.run(["pdftotext", "-f", str(page), "-l", str(page), str(pdf), "-"],
                         capture_output=True, check=True)
    return run.stdout.decode("utf-8")


@pytest.mark.parametrize(
    "kwargs, options",
    [
        ({}, []),
        ({"format": "Page {n} of {total}", "position": "top-right", "size": 9, "color": (51, 102, 153)},
         ["--format", "Page {n} of {total}", "--position", "top-right", "--size", "9", "--color", "51,102,153"]),
        ({"position": 5, "size": 500}, ["--position", "5", "--size", "500"]),
        ({"pages": (3, 5), "first": 7}, ["--pages", "3-5", "--first", "7"]),
        ({"pages": (4, None)}, ["--pages", "4-"]),
        ({"pages": (None, 2), "first": -1}, ["--pages", "-2", "--first", "-1"]),
        ({"skip": 2, "format": b"{{{n}}}"}, ["--skip", "2", "--format", "{{{n}}}"]),
    ],
)
def test_same_output_as_the_tool(tmp_path, kwargs, options):
    if not CLI:
        pytest.skip("DEDEDIRUZURUD_CLI is not set")
    number_pages(TEN_PAGES, tmp_path / "python.pdf", **kwargs)
    subprocess.run([CLI, *options, str(TEN_PAGES), str(tmp_path / "tool.pdf")], check=True)
    assert (tmp_path / "python.pdf").read_bytes() == (tmp_path / "tool.pdf").read_bytes()


def test_labels_in_windows_1252_characters(tmp_path):
    label = "Página {n} — “ß” ü €"
    number_pages(str(TEN_PAGES), str(tmp_path / "text.pdf"), format=label)
    assert "Página 2 — “ß” ü €" in page_text(tmp_path / "text.pdf", 2)
    # bytes are the label font's own encoding and pass unchanged
    number_pages(os.fsencode(TEN_PAGES), os.fsencode(tmp_path / "bytes.pdf"), format=label.encode("cp1252"))
    assert (tmp_path / "bytes.pdf").read_bytes() == (tmp_path / "text.pdf").read_bytes()


@pytest.mark.parametrize("char", ["Ж", "中", "\U0001F600", "\u0081"])
def test_refuses_characters_the_font_cannot_show(tmp_path, char):
    with pytest.raises(ValueError) as caught:
        number_pages(TEN_PAGES, tmp_path / "out.pdf", format="Page {n} " + char)
    assert str(caught.value) == f"the label font cannot show {char!r} (U+{ord(char):04X})"
    assert not (tmp_path / "out.pdf").exists()


@pytest.mark.parametrize(
    "source, kwargs, error, message",
    [
        (CORPUS / "missing.pdf", {}, NotFoundError, "cannot open {input}"),
        (ENCRYPTED, {}, PasswordRequiredError, "encrypted PDFs are not supported: {input}"),
        (TEN_PAGES, {"pages": (12, 13)}, DedediruzurudError, "range 12..13 is empty (document has 10 pages)"),
        (TEN_PAGES, {"skip": 10}, DedediruzurudError, "skip_pages 10 >= page count 10 — nothing to number"),
    ],
)
def test_library_failures_carry_its_message(tmp_path, source, kwargs, error, message):
    with pytest.raises(DedediruzurudError) as caught:
        number_pages(source, tmp_path / "out.pdf", **kwargs)
    assert type(caught.value) is error
    assert caught.value.message == str(caught.value) == message.format(input=source)
    assert not (tmp_path / "out.pdf").exists()


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"skip": 1, "pages": (1, 2)}, ValueError),
        ({"skip": 1, "first": 3}, ValueError),
        ({"position": "middle"}, ValueError),
        ({"size": 10.5}, TypeError),
        ({"size": True}, TypeError),
        ({"first": 2**31}, ValueError),
        ({"pages": (1, 2, 3)}, ValueError),
        ({"color": (0, 0)}, ValueError),
        ({"format": "a\0b"}, ValueError),
        ({"format": 12}, TypeError),
        ({"position": 6}, ValueError),
        ({"color": (0, 256, 0)}, ValueError),
        ({"pages": (7, 3)}, ValueError),
        ({"pages": (0, 3)}, ValueError),
        ({"pages": (0, None)}, ValueError),
        ({"skip": -1}, ValueError),
    ],
)
def test_rejects_arguments_before_any_work(tmp_path, kwargs, error):
    with pytest.raises(error):
        number_pages(TEN_PAGES, tmp_path / "out.pdf", **kwargs)
    assert not (tmp_path / "out.pdf").exists()


def test_exception_classes(tmp_path):
    # Existing except clauses keep working: every error is a DedediruzurudError,
    # the system's refusals are also the OSError kinds with errno and filename.
    assert issubclass(PasswordRequiredError, EncryptedPDFError)
    assert issubclass(dedediruzurud.ChangesNotAllowedError, EncryptedPDFError)
    missing = tmp_path / "missing.pdf"
    with pytest.raises(FileNotFoundError) as caught:
        number_pages(missing, tmp_path / "out.pdf")
    assert isinstance(caught.value, DedediruzurudError)
    assert (caught.value.errno, caught.value.filename) == (errno.ENOENT, str(missing))
    nowhere = tmp_path / "no" / "out.pdf"
    with pytest.raises(NotFoundError) as caught:
        number_pages(TEN_PAGES, nowhere)
    assert str(caught.value) == f"cannot write {nowhere}"
    assert caught.value.filename == str(nowhere)
    if os.name != "nt" and os.geteuid() != 0:  # root may write anywhere
        locked = tmp_path / "locked"
        locked.mkdir(mode=0o500)
        with pytest.raises(PermissionError) as caught:
            number_pages(TEN_PAGES, locked / "out.pdf")
        assert isinstance(caught.value, AccessError) and isinstance(caught.value, DedediruzurudError)
        assert caught.value.errno == errno.EACCES


@pytest.mark.skipif(os.name == "nt", reason="POSIX file names are bytes")
@pytest.mark.parametrize("name", ["résumé ü.pdf", b"caf\xe9.pdf"])
def test_file_names_reach_the_file_system_unchanged(tmp_path, name):
    output = os.path.join(os.fsencode(tmp_path) if isinstance(name, bytes) else tmp_path, name)
    number_pages(TEN_PAGES, output)
    number_pages(output, output, format="{n}/{total}")  # in place
    assert "3/10" in page_text(os.fsdecode(output), 3)


def test_each_thread_gets_its_own_message(tmp_path):
    # The library's last-error text is process-wide; without the module's lock,
    # a failure could report another thread's path.
    def call(k):
        missing = tmp_path / f"missing-{k}.pdf"
        try:
            number_pages(TEN_PAGES if k % 4 == 0 else missing, tmp_path / f"out-{k}.pdf")
        except DedediruzurudError as error:
            return error.message == f"cannot open {missing}"
        return True

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        assert all(pool.map(call, range(2000)))


def test_library_lookup(tmp_path):
    # Beside the module first (an installed package); otherwise the variable.
    package = pathlib.Path(dedediruzurud.__file__).parent
    env = dict(os.environ, DEDEDIRUZURUD_LIBRARY=str(tmp_path / "nowhere.so"), PYTHONPATH=str(package.parent))
    script = f"import dedediruzurud; dedediruzurud.number_pages({str(TEN_PAGES)!r}, {str(tmp_path / 'o.pdf')!r})"
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                         cwd=tmp_path)
    if (package / dedediruzurud.LIBRARY_FILE).is_file():
        assert run.returncode == 0, run.stderr
    else:
        assert run.returncode != 0 and "nowhere.so" in run.stderr
