#!/usr/bin/env python3
"""Writes a deterministic, realistic HTML page of about 1 MiB for the benchmarks:
mixed-case tags, CR LF line ends, inline scripts, long lines, some UTF-8 text,
links and images with http:// addresses, a few ad blocks and tracker scripts."""
import random
import sys

SIZE = 1 << 20

WORDS = ("the of and to in is that for it as was with be by on not he this are or his from at which but have an "
         "they you were her she there been one all we their has would when if so no more out up into do any your what "
         "market weather report city council school music river garden history science travel review update local "
         "morning evening library museum station window summer winter").split()
RARE = ["sponsor", "Banner", "tracking", "popup", "AdServer", "advertisement", "Advertisement"]
UTF8 = ["Café au lait, crème brûlée et pâté.", "日本語のテキストも少し含まれています。", "Größe, Übung, Straße.",
        "Ελληνικά και русский текст.", "東京・大阪・名古屋の天気"]
HOSTS = ["www.example.com", "cdn.example.net", "static.news.example.org", "img.example.com", "ads.example.biz"]
TAGS = ["div", "DIV", "Div", "span", "SPAN", "p", "P"]


def sentence(rng):
    words = [rng.choice(WORDS) for _ in range(rng.randint(6, 18))]
    if rng.random() < 0.08:
        words[rng.randrange(len(words))] = rng.choice(RARE)
    text = " ".join(words).capitalize() + "."
    if rng.random() < 0.15:
        text += " " + rng.choice(UTF8)
    return text


def url(rng):
    path = "/".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4)))
    return "http://%s/%s.%s" % (rng.choice(HOSTS), path, rng.choice(["html", "png", "jpg", "js", "css"]))


def script(rng):
    statements = []
    for _ in range(rng.randint(40, 160)):
        name = rng.choice(WORDS)
        statements.append('var %s%d=document.getElementById("%s");if(%s%d){%s%d.style.display="block";}'
                          % (name, rng.randint(0, 999), name, name, rng.randint(0, 999), name, rng.randint(0, 999)))
    # One long line, as minified scripts are.
    return "<SCRIPT type=\"text/javascript\">" + "".join(statements) + "</script>"


def block(rng):
    kind = rng.random()
    if kind < 0.04:
        return '<div class="ad"><a href="%s"><IMG SRC="%s" alt="Advertisement"></a></div>' % (url(rng), url(rng))
    if kind < 0.08:
        return script(rng)
    if kind < 0.10:
        return '<script src="http://%s/%s.js?id=%d"></script>' % (
            rng.choice(["tracker.example.com", "www.example.com/analytics", "cdn.example.net/lib"]),
            rng.choice(WORDS), rng.randint(0, 99999))
    if kind < 0.30:
        return '<a href="%s">%s</a> <img src="%s" width="%d">' % (url(rng), sentence(rng), url(rng), rng.randint(10, 600))
    tag = rng.choice(TAGS)
    return '<%s class="%s">%s</%s>' % (tag, rng.choice(WORDS), " ".join(sentence(rng) for _ in range(rng.randint(1, 5))), tag.lower())


def main():
    rng = random.Random(20240611)
    parts = ["<!DOCTYPE html>", "<HTML><head><meta charset=\"utf-8\"><title>Front page</title>", script(rng), "</head><BODY>"]
    size = sum(len(p.encode()) + 2 for p in parts)
    while size < SIZE - 64:
        piece = block(rng)
        size += len(piece.encode()) + 2
        parts.append(piece)
    parts.append("</body></html>")
    data = "\r\n".join(parts).encode()
    with open(sys.argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
