#!/usr/bin/env python3
"""Writes a realistic address-book export of a given size to standard output.

    gen_export.py SIZE_BYTES [SEED]

The export looks like what a European-locale spreadsheet saves: a line of
column names, then contacts of eight to twelve fields separated by ";",
about a third of the fields quoted (some holding ";" or a line break), one or
two e-mail addresses per contact (some as "Name address"), Windows-1252
accented letters and CR LF line ends. The same SIZE and SEED always give the
same bytes: a pool of contacts is drawn from a seeded generator and repeated,
each repeat numbered so that lines stay distinct.
"""

import random
import sys

FIRST = [b"Jean", b"H\xe9l\xe8ne", b"J\xfcrgen", b"In\xeas", b"Fran\xe7ois", b"S\xf8ren",
         b"Marie", b"Andr\xe9", b"Zo\xe9", b"Bj\xf6rn", b"Ana", b"Luc", b"No\xebl", b"Ir\xe8ne",
         b"Jos\xe9", b"Ma\xeblle", b"C\xe9line", b"Pierre", b"Ole", b"Chlo\xe9"]
LAST = [b"Dupont", b"Lef\xe8vre", b"M\xfcller", b"Gon\xe7alves", b"Dubois", b"\xd8stergaard",
        b"Martin", b"Garc\xeda", b"Rossi", b"Br\xfcckner", b"Nu\xf1ez",
        b"Lema\xeetre", b"Bernard", b"Sj\xf6berg", b"Moreau"]
COMPANY = [b"Atelier C\x9cur de Lin", b"Librer\xeda \xd1and\xfa", b"Mairie de S\xe8vres",
           b"Soci\xe9t\xe9 G\xe9n\xe9rale des Eaux", b"B\xe4ckerei Sch\xf6n", b"", b"",
           b"Caf\xe9 du Commerce", b"Imprimerie R\xe9union"]
STREET = [b"12 rue des \xc9coles", b"K\xf6nigstra\xdfe 14", b"Rua Augusta 210",
          b"54 Grande Rue", b"N\xf8rregade 7", b"3 place de l'\xc9glise", b"Via Roma 8",
          b"Calle Mayor 21", b"8 all\xe9e des Ch\xeanes"]
CITY = [b"Paris", b"Stuttgart", b"Lisboa", b"S\xe8vres", b"K\xf8benhavn", b"Gen\xe8ve",
        b"Z\xfcrich", b"M\xe1laga", b"Li\xe8ge", b"Orl\xe9ans"]
DOMAIN = [b"example.fr", b"example.de", b"mail.example.com", b"ville-sevres.fr",
          b"coeurdelin.fr", b"nandu.pt", b"firma.dk", b"poste.example.net"]
NOTE = [b"Client depuis 2019", b"Pr\xe9f\xe8re le courriel", b"Rappeler en janvier",
        b"Rendez-vous mardi; apporter le devis", b"", b"", b"Anniversaire le 3 mai",
        b"Ne pas appeler avant 10h"]
HEADER = [b"Nom", b"Pr\xe9nom", b"Soci\xe9t\xe9", b"Adresse", b"Code postal", b"Ville",
          b"T\xe9l\xe9phone", b"E-mail", b"E-mail 2", b"Notes", b"Mobile", b"Fax"]


def ascii_fold(word):
    folded = bytes(b if b < 0x80 else 0x65 for b in word)
    return folded.lower().replace(b" ", b"")


def quote(text):
    return b'"' + text.replace(b'"', b'""') + b'"'


def contact(rng):
    first, last = rng.choice(FIRST), rng.choice(LAST)
    user = ascii_fold(first) + b"." + ascii_fold(last)
    mail = user + b"@" + rng.choice(DOMAIN)
    street = rng.choice(STREET)
    if rng.random() < 0.15:
        street += b"\r\nB\xe2timent " + bytes([rng.randint(65, 70)])
    fields = [last, first, rng.choice(COMPANY), street,
              str(rng.randint(1000, 99999)).encode(), rng.choice(CITY),
              b"0%d %02d %02d %02d %02d" % tuple(rng.randint(1, 99) for _ in range(5))]
    if rng.random() < 0.25:
        mail = first + b" " + last + b" " + mail
    fields.append(mail)
    if rng.random() < 0.4:
        fields.append(ascii_fold(first)[:1] + ascii_fold(last) + b"@" + rng.choice(DOMAIN))
    fields.append(rng.choice(NOTE))
    while len(fields) < rng.randint(8, 12):
        fields.append(b"06 %02d %02d %02d %02d" % tuple(rng.randint(0, 99) for _ in range(4)))
    out = []
    for f in fields:
        # Fields holding a separator or a line break must be quoted; about a
        # third of the others are quoted too, as some spreadsheets do.
        needs = b";" in f or b"\r\n" in f
        # A quoted address is copied as text, not linked: keep most of them bare.
        if needs or (b"@" not in f and rng.random() < 0.3):
            out.append(quote(f))
        else:
            out.append(f)
    return b";".join(out)


def main():
    size = int(sys.argv[1])
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    rng = random.Random(seed)
    pool = [contact(rng) for _ in range(20000)]
    out = sys.stdout.buffer
    written = 0
    head = b";".join(HEADER) + b"\r\n"
    out.write(head[:size])
    written += min(len(head), size)
    round_no = 0
    while written < size:
        chunk = []
        # Each repeat numbers its first fields so that lines stay distinct.
        tag = b" %d;" % round_no if round_no else b";"
        for line in pool:
            chunk.append(line.replace(b";", tag, 1) + b"\r\n")
        data = b"".join(chunk)
        data = data[:size - written]
        out.write(data)
        written += len(data)
        round_no += 1


if __name__ == "__main__":
    main()
