#!/usr/bin/env python3
"""Main-part score of the webtrim program: word F1 against the human gold texts, and whether the
page's headline survives.

usage: tools/score-mainpart.py EXE [--w0 HEX] [--jobs N] [--sets A,B] [--max-pages N] [--csv FILE]
                               [--score PATH]

Cleans each gold page once with EXE under the option word --w0 (default 0x100033BF: the defaults
with "Find the main part in any layout") and reads the pages, the gold texts and the cleaning and
word scoring from the shared scorer (--score, default /work/shared/maincontent/score.py, or
WEBTRIM_SCORE), so its F1 figures are that scorer's. The pages are read where the scorer unpacks
them; nothing is copied into the project.

The headline measure: a page has a headline when one of its H1 elements has two words or more and
its normalised text (NFKC, lower case, the runs of word characters joined by single blanks) occurs
in the normalised gold text; the first such H1 is its headline. The page keeps it when the same
normalised text occurs in the normalised visible text of the cleaned page. The last lines give,
per set and over all sets, how many pages have a headline and the share that keep it."""
import argparse, codecs, collections, csv, html.parser, importlib.util, os, re, sys, unicodedata
from multiprocessing import Pool

WORD = re.compile(r"\w+")
SKIP = frozenset(("script", "style", "noscript", "template", "title"))
score = None        # the shared scorer's module, loaded in each process


def load_scorer(path):
    global score
    found = importlib.util.spec_from_file_location("maincontent_score", path)
    score = importlib.util.module_from_spec(found)
    found.loader.exec_module(score)


def normalise(text):
    return " ".join(WORD.findall(unicodedata.normalize("NFKC", text).lower()))


class H1Texts(html.parser.HTMLParser):
    """The text of each H1 of a page, in order (script and style text left out)."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.texts, self.depth, self.skipping = [], 0, 0

    def handle_starttag(self, tag, attrs):
        if tag == "h1":
            if self.depth == 0:
                self.texts.append([])
            self.depth += 1
        elif tag in SKIP:
            self.skipping += 1

    def handle_endtag(self, tag):
        if tag == "h1" and self.depth > 0:
            self.depth -= 1
        elif tag in SKIP and self.skipping > 0:
            self.skipping -= 1

    def handle_data(self, data):
        if self.depth and not self.skipping:
            self.texts[-1].append(data)


def headline(markup, gold_norm):
    """The page's headline, normalised, or None."""
    p = H1Texts()
    try:
        p.feed(markup)
        p.close()
    except Exception:
        pass
    padded = " " + gold_norm + " "
    for parts in p.texts:
        h = normalise("".join(parts))
        if len(h.split()) >= 2 and " " + h + " " in padded:
            return h
    return None


def score_page(task):
    scorer, exe, w0, root, s, name, charset = task
    if score is None:
        load_scorer(scorer)
    gold_text = open(os.path.join(root, "gold", s, name + ".txt"), encoding="utf-8").read()
    gold = score.bag(gold_text)
    page = os.path.join(root, "pages", s, name + ".htm")
    codec = codecs.lookup(charset).name
    head = headline(open(page, "rb").read().decode(codec, errors="replace"), normalise(gold_text))
    out = score.clean(exe, page, w0)
    if out is None:
        return [s, name, 0.0, 0.0, 0.0, "failed", head or "", 0]
    text = score.visible_text(out.decode(codec, errors="replace"))
    pred = score.bag(text)
    kept = int(head is not None and " " + head + " " in " " + normalise(text) + " ")
    return [s, name] + list(score.prf(pred, gold)) + ["ok" if pred else "empty", head or "", kept]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("exe")
    ap.add_argument("--w0", default="0x100033BF")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--sets", default="")
    ap.add_argument("--max-pages", type=int, default=0, help="at most N pages per set")
    ap.add_argument("--csv", help="write per-page rows here")
    ap.add_argument("--score", default=os.environ.get("WEBTRIM_SCORE",
                                                      "/work/shared/maincontent/score.py"))
    a = ap.parse_args()
    if not os.path.exists(a.score):
        print("score-mainpart: no scorer at %s" % a.score, file=sys.stderr)
        return 2
    load_scorer(a.score)
    root = score.unpack()
    wanted = a.sets.split(",") if a.sets else list(score.SETS)
    tasks, count = [], collections.Counter()
    with open(os.path.join(root, "MANIFEST.tsv")) as f:
        for r in csv.DictReader(f, delimiter="\t"):
            if r["set"] in wanted and (not a.max_pages or count[r["set"]] < a.max_pages):
                count[r["set"]] += 1
                tasks.append((a.score, os.path.abspath(a.exe), int(a.w0, 16), root, r["set"],
                              r["name"], r["charset"]))
    with Pool(a.jobs) as pool:
        rows = pool.map(score_page, tasks, chunksize=4)
    if a.csv:
        with open(a.csv, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["set", "page", "P", "R", "F1", "status", "headline", "kept"])
            w.writerows(rows)
    means, heads, kept = [], 0, 0
    for s in wanted:
        rs = [r for r in rows if r[0] == s]
        if not rs:
            continue
        m = [sum(r[i] for r in rs) / len(rs) for i in (2, 3, 4)]
        empty = sum(1 for r in rs if r[5] != "ok")
        h = [r for r in rs if r[6]]
        k = sum(r[7] for r in h)
        heads += len(h)
        kept += k
        means.append(m[2])
        print("%-24s n=%4d  P %.3f  R %.3f  F1 %.3f   empty or failed %d   headline kept %d of %d"
              % (s, len(rs), m[0], m[1], m[2], empty, k, len(h)))
    print("mean F1 over %d sets: %.3f with w0=0x%08X" % (len(means), sum(means) / len(means),
                                                        int(a.w0, 16)))
    print("headline kept: %d of %d pages (%.1f%%)" % (kept, heads, 100.0 * kept / heads if heads else 0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
