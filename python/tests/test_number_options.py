"""number_pages' label options and page_count, read back with poppler and pikepdf."""

import os
import pathlib
import subprocess

import pytest

from dedediruzurud import DedediruzurudError, number_pages, page_count

CORPUS = pathlib.Path(
    os.environ.get("DEDEDIRUZURUD_CORPUS") or pathlib.Path(__file__).resolve().parents[2] / "tests" / "corpus"
)
TEN_PAGES = CORPUS / "gropdf-groff-man.pdf"
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
DROID = "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf"
CLI = os.environ.get("DEDEDIRUZURUD_CLI")


def page_text(pdf, page):
    run = subprocess.run(["pdftotext", "-f", str(page), "-l", str(page), str(pdf), "-"],
                         capture_output=True, check=True)
    return run.stdout.decode("utf-8")


def test_page_count_and_the_count_returned(tmp_path):
    pikepdf = pytest.importorskip("pikepdf")
    with pikepdf.open(TEN_PAGES) as pdf:
        pages = len(pdf.pages)
    assert page_count(TEN_PAGES) == pages == 10
    assert number_pages(TEN_PAGES, tmp_path / "out.pdf", skip=3) == pages
    assert page_count(tmp_path / "out.pdf") == pages
    assert number_pages(TEN_PAGES, tmp_path / "raw.pdf", format=b"{n}\x07") == pages  # the six's bytes path
    with pytest.raises(DedediruzurudError, match="^cannot open "):
        page_count(tmp_path / "missing.pdf")


@pytest.mark.parametrize(
    "kwargs, page, text",
    [
        ({"font": DEJAVU, "format": "Страница {n} из {total}"}, 4, "Страница 4 из 10"),
        ({"font": DROID, "format": "日本語の頁、中文页"}, 2, "日本語の頁、中文页"),  # the font has no digits
        ({"font": "Courier-Bold", "format": "Seite {n:A} / {total}", "first": 27, "total": 99}, 1, "Seite AA / 99"),
        ({"skip": 2, "format": "{n:r} of {total:r}", "total": "labelled", "margin": (40, 20)}, 10, "viii of viii"),
        ({"format": "ACME-{n:06}", "first": 1000, "opacity": 0.5, "backing": True, "margin": 30}, 3, "ACME-001002"),
    ],
)
def test_options_read_back(tmp_path, kwargs, page, text):
    font = kwargs.get("font", "")
    if font.startswith("/") and not os.path.exists(font):
        pytest.skip(f"{font} is not installed")
    assert number_pages(TEN_PAGES, tmp_path / "out.pdf", **kwargs) == 10
    assert text in page_text(tmp_path / "out.pdf", page)


def test_page_labels_match_the_printed_numbers(tmp_path):
    pikepdf = pytest.importorskip("pikepdf")
    number_pages(TEN_PAGES, tmp_path / "out.pdf", pages=(2, 5), format="{n:R}", page_labels=True)
    with pikepdf.open(tmp_path / "out.pdf") as pdf:
        labels = [pikepdf.Page(page).label for page in pdf.pages]
    assert labels[:6] == ["1", "I", "II", "III", "IV", "6"]


def test_same_output_as_the_tool(tmp_path):
    if not CLI:
        pytest.skip("DEDEDIRUZURUD_CLI is not set")
    if not os.path.exists(DEJAVU):
        pytest.skip("fonts-dejavu-core is not installed")
    number_pages(TEN_PAGES, tmp_path / "python.pdf", font=DEJAVU, format="Σελίδα {n:03}", margin=(20, 30),
                 opacity=0.25, backing=True, total=99, page_labels=True, position="top-left")
    subprocess.run([CLI, "--font", DEJAVU, "--format", "Σελίδα {n:03}", "--margin", "20,30", "--opacity", "0.25",
                    "--backing", "--total", "99", "--page-labels", "--position", "top-left",
                    str(TEN_PAGES), str(tmp_path / "tool.pdf")], check=True)
    assert (tmp_path / "python.pdf").read_bytes() == (tmp_path / "tool.pdf").read_bytes()


@pytest.mark.parametrize(
    "kwargs, error",
    [
        ({"margin": -1}, ValueError),
        ({"margin": (10,)}, ValueError),
        ({"margin": "10"}, TypeError),
        ({"margin": float("nan")}, ValueError),
        ({"opacity": 1.5}, ValueError),
        ({"opacity": "half"}, TypeError),
        ({"total": "all"}, ValueError),
        ({"total": 2.5}, TypeError),
        ({"backing": 1}, TypeError),
        ({"page_labels": "yes"}, TypeError),
        ({"font_index": -1}, ValueError),
        ({"font": 12}, TypeError),
        ({"font": "Times-Roman", "format": "Ж {n}"}, ValueError),
        ({"format": "\ud800 {n}", "font": DEJAVU}, ValueError),
    ],
)
def test_rejects_options_before_any_work(tmp_path, kwargs, error):
    with pytest.raises(error):
        number_pages(TEN_PAGES, tmp_path / "out.pdf", **kwargs)
    assert not (tmp_path / "out.pdf").exists()


def test_library_refusals_of_fonts(tmp_path):
    if not os.path.exists(DEJAVU):
        pytest.skip("fonts-dejavu-core is not installed")
    with pytest.raises(DedediruzurudError, match=r"cannot show '中' \(U\+4E2D\)$"):
        number_pages(TEN_PAGES, tmp_path / "out.pdf", font=DEJAVU, format="{n} 中")
    with pytest.raises(DedediruzurudError, match="^cannot open font "):
        number_pages(TEN_PAGES, tmp_path / "out.pdf", font=tmp_path / "missing.ttf")
    with pytest.raises(DedediruzurudError, match="zero padding to 33 digits"):
        number_pages(TEN_PAGES, tmp_path / "out.pdf", format="{n:033}")
    assert not (tmp_path / "out.pdf").exists()
