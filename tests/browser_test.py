"""What a reader sees: pages made by the tool, rendered by headless Chromium.

Converts the shipped example, a tricky export and a small UTF-8 export, dumps
the DOM Chromium builds from each page, and checks the table (rows, cells per
row, the text of chosen cells), the heading and every link. The page of a
Windows-1252 export declares no character set: the browser must still read
its bytes as such. A UTF-8 export's page declares UTF-8.

    browser_test.py TOOL CONTACTS_CSV
Without Chromium the test is skipped (77), except in CI (CI=true).
"""

import html.parser
import os
import shutil
import subprocess
import sys
import tempfile

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run"]

# Quoted line breaks, several addresses in a cell, a quoted "@", doubled
# quotes, a name before an address, and a last line without line break.
TRICKY_EXPORT = ("Nom;Adresse;Mails\r\n"
                 "Zoé;\"1 rue Haute\r\n2e étage\";a@b.fr c@d.org\r\n"
                 "\"Jean \"\"JJ\"\"\";x;\"note: a@b\"\r\n"
                 "Ève;\"x;y\";Ève last@end.fr").encode("cp1252")


# Small enough that a browser could not guess its encoding from the text.
UTF8_EXPORT = ("Nom;Prénom;E-mail\r\n"
               "Kowalski;Łukasz;lukasz@example.pl\r\n"
               "Müller;Jürgen;j@example.de\r\n").encode("utf-8")


class PageReader(html.parser.HTMLParser):
    """Collects the table's rows of cell texts ("<br>" as "\\n"), every link
    as (href, text), and the page's heading."""

    def __init__(self):
        super().__init__()
        self.rows, self.links, self.heading = [], [], ""
        self._cell = self._link = None
        self._in_font = False

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
            self._cell = None
        elif tag == "td":
            self.rows[-1].append("")
            self._cell = len(self.rows[-1]) - 1
        elif tag == "br":
            self._text("\n")
        elif tag == "a":
            self.links.append((dict(attrs).get("href"), ""))
            self._link = len(self.links) - 1
        elif tag == "font":
            self._in_font = True

    def handle_endtag(self, tag):
        if tag in ("td", "tr"):
            self._cell = None
        elif tag == "a":
            self._link = None
        elif tag == "font":
            self._in_font = False

    def handle_data(self, data):
        self._text(data)
        if self._in_font:
            self.heading += data

    def _text(self, data):
        if self._cell is not None:
            self.rows[-1][self._cell] += data
        if self._link is not None:
            href, text = self.links[self._link]
            self.links[self._link] = (href, text + data)


def render(tool, chromium, work, name, export):
    """Converts `export` (bytes) in a fresh directory and returns the page as
    Chromium reads it."""
    directory = os.path.join(work, name)
    os.mkdir(directory)
    with open(os.path.join(directory, "export.csv"), "wb") as f:
        f.write(export)
    run = subprocess.run([tool, "export.csv"], cwd=directory, capture_output=True, timeout=60)
    if run.returncode != 0:
        raise AssertionError(f"{name}: the tool failed: {run.stdout!r}")
    dom = subprocess.run([chromium, *CHROMIUM_FLAGS, "--user-data-dir=" + os.path.join(work, name + ".profile"),
                          "--dump-dom", "file://" + os.path.join(directory, "carnet.htm")],
                         capture_output=True, timeout=120)
    if dom.returncode != 0 or b"<table" not in dom.stdout:
        raise AssertionError(f"{name}: chromium failed: {dom.stderr.decode(errors='replace')[-2000:]}")
    reader = PageReader()
    reader.feed(dom.stdout.decode("utf-8"))
    reader.close()
    return reader


def expect(failures, name, what, got, wanted):
    if got != wanted:
        failures.append(f"{name}: {what}:\n  got    {got!r}\n  wanted {wanted!r}")


def check(failures, name, page, cells_per_row, cells, mail):
    """`cells` maps (row, column) to the text a reader sees there; `mail`
    lists the addresses that must be links, in order."""
    expect(failures, name, "heading", page.heading, "Répertoire")
    expect(failures, name, "cells per row", [len(r) for r in page.rows], cells_per_row)
    for (row, column), text in cells.items():
        got = page.rows[row][column] if row < len(page.rows) and column < len(page.rows[row]) else None
        expect(failures, name, f"cell {row},{column}", got, text)
    back = ("menu.html", "")
    expect(failures, name, "links", page.links, [back] + [("mailto:" + m, m) for m in mail] + [back])


def main():
    tool, contacts = os.path.abspath(sys.argv[1]), sys.argv[2]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("chromium not found")
        return 1 if os.environ.get("CI") == "true" else 77

    failures = []
    with tempfile.TemporaryDirectory() as work:
        with open(contacts, "rb") as f:
            page = render(tool, chromium, work, "contacts", f.read())
        check(failures, "contacts", page, [9] * 11, {
            (0, 0): "Nom", (0, 1): "Prénom", (0, 2): "Société", (0, 6): "Téléphone",
            (1, 2): "Atelier Cœur de Lin",
            (2, 3): "Königstraße 14\nHinterhaus",
            (3, 8): "Préfère ; le courriel",
            (5, 7): "soren@oestergaard.dk soren.o@firma.dk",
            (7, 7): "Zoë Renée zoe.renee@exemple.fr",
            (8, 2): "Castaño & Hijos", (8, 3): "Calle Mayor 5, 2º", (8, 8): "Dit : appeler le matin",
            (10, 0): "Åkesson", (10, 8): "",
        }, ["helene.lefevre@coeurdelin.fr", "j.mueller@example.de", "ines@nandu.pt",
            "f.dubois@ville-sevres.fr", "soren@oestergaard.dk", "soren.o@firma.dk",
            "zoe.renee@exemple.fr", "jose@castano.es", "gaelle.noel@exemple.fr",
            "bjorn.akesson@fjall.se"])

        page = render(tool, chromium, work, "tricky", TRICKY_EXPORT)
        check(failures, "tricky", page, [3, 3, 3, 3], {
            (0, 2): "Mails",
            (1, 0): "Zoé", (1, 1): "1 rue Haute\n2e étage", (1, 2): "a@b.fr c@d.org\n",  # a link that ends its line is followed by "<br>"
            (2, 0): "Jean JJ", (2, 2): "note: a@b",
            (3, 0): "Ève", (3, 1): "x;y", (3, 2): "Ève last@end.fr",
        }, ["a@b.fr", "c@d.org", "last@end.fr"])

        page = render(tool, chromium, work, "utf-8", UTF8_EXPORT)
        check(failures, "utf-8", page, [3, 3, 3], {
            (0, 1): "Prénom", (1, 0): "Kowalski", (1, 1): "Łukasz", (2, 0): "Müller", (2, 1): "Jürgen",
        }, ["lukasz@example.pl", "j@example.de"])

    for failure in failures:
        print(failure)
    print("ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
