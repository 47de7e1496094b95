#!/usr/bin/python3
"""The corpus cleaned in one Python process: webtrim.clean against the lxml
Cleaner (python3-lxml, its default switches) and readability's
Document(...).summary() (python3-readability) where installed.

    python_bench.py [--runs N] CORPUS_FOLDER

Each cleaner goes over every page once per run after one warm-up run; the
median run is reported, as seconds, pages per second, MB per second and
its time as a multiple of webtrim's. Pages a cleaner fails on count in its
time and are reported.
"""
import argparse, os, statistics, sys, time


def webtrim_cleaner():
    import webtrim
    # Every page cleaned, the one stored as UTF-16 too, as before clean()
    # refused what the program refuses.
    return 'webtrim.clean', lambda page: webtrim.clean(page, force=True)


def lxml_cleaner():
    from lxml.html.clean import Cleaner
    cleaner = Cleaner()
    return 'lxml Cleaner', cleaner.clean_html


def readability_cleaner():
    from readability import Document
    return 'readability', lambda page: Document(page).summary()


def one_pass(clean, pages):
    failures = 0
    start = time.perf_counter()
    for page in pages:
        try:
            clean(page)
        except Exception:
            failures += 1
    return time.perf_counter() - start, failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('corpus')
    ap.add_argument('--runs', type=int, default=3)
    a = ap.parse_args()
    names = sorted(f for f in os.listdir(a.corpus) if f.endswith('.htm'))
    pages = [open(os.path.join(a.corpus, f), 'rb').read() for f in names]
    size = sum(map(len, pages)) / 1e6
    print('%d pages, %.1f MB; median of %d runs after a warm-up run' % (len(pages), size, a.runs))
    print('%-15s %9s %9s %8s %8s %9s' % ('cleaner', 'seconds', 'pages/s', 'MB/s', 'failed',
                                        'x webtrim'))
    base = None
    for make in (webtrim_cleaner, lxml_cleaner, readability_cleaner):
        try:
            name, clean = make()
        except ImportError as e:
            print('%-15s not installed (%s)' % (make.__name__.split('_')[0], e))
            continue
        # The slow ones warm up on a tenth of the corpus.
        one_pass(clean, pages if base is None else pages[::10])
        runs = [one_pass(clean, pages) for _ in range(a.runs)]
        seconds = statistics.median(r[0] for r in runs)
        failed = max(r[1] for r in runs)
        base = base or seconds
        print('%-15s %9.3f %9.0f %8.1f %8d %9.1f' % (name, seconds, len(pages) / seconds,
                                                      size / seconds, failed, seconds / base))
        sys.stdout.flush()


if __name__ == '__main__':
    main()
