#!/usr/bin/env python3
"""A hostile user's link flipper against root's runs, with no tracer: the
user swaps two links of their own with renameat2(RENAME_EXCHANGE) as fast
as they can (one leads to the user's own page, the other to a root-only
page in a 0700 folder), while root cleans the page through the link, or
writes -o through it, again and again. A run that touches root's page or
file, or trashes it, is a failure.

Run as root: tools/link-flip-stress.py --webtrim build/linux/webtrim [--runs 300]
Not part of the test suite: it counts what a race without a tracer does.
"""
import argparse, ctypes, os, pwd, shutil, subprocess, sys, tempfile

FLIPPER = r'''
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
a, b = sys.argv[1].encode(), sys.argv[2].encode()
while True:
    libc.renameat2(-100, a, -100, b, 2)     # AT_FDCWD, RENAME_EXCHANGE
'''

PAGE = b'<html><head><style>p{}</style></head><body><!-- c --><p>words</p></body></html>\n'
ROOTS = b'root only<!-- c -->\n'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--webtrim', required=True)
    ap.add_argument('--runs', type=int, default=300)
    a = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit('run as root')
    nobody = pwd.getpwnam('nobody')
    root = tempfile.mkdtemp(prefix='webtrim-flip-')
    os.chmod(root, 0o755)
    # A copy of its own: a rebuild meanwhile changes nothing.
    webtrim = root + '/webtrim'
    shutil.copy2(a.webtrim, webtrim)
    shared, mine, secret = root + '/shared', root + '/mine', root + '/secret'
    os.mkdir(shared)
    os.chmod(shared, 0o1777)
    os.mkdir(mine)
    os.chown(mine, nobody.pw_uid, nobody.pw_gid)
    os.mkdir(secret, 0o700)
    env = dict(os.environ, HOME=root + '/home', XDG_DATA_HOME=root + '/home/data',
               XDG_CONFIG_HOME=root + '/home/config', LC_ALL='C')
    failures = {'page': 0, '-o': 0}
    runs = {'page': 0, '-o': 0}
    flip = None
    try:
        for mode in ['page', '-o']:
            # setpriv execs the flipper itself, so killing it ends it.
            flip = subprocess.Popen(['setpriv', '--reuid', str(nobody.pw_uid), '--regid', str(nobody.pw_gid),
                                     '--clear-groups', sys.executable, '-c', FLIPPER,
                                     shared + '/link.htm', shared + '/other'])
            for i in range(a.runs):
                # Fresh pages each run: the user's own, and root's.
                with open(mine + '/page.htm', 'wb') as f:
                    f.write(PAGE)
                os.chown(mine + '/page.htm', nobody.pw_uid, nobody.pw_gid)
                for name in ['page.htm', 'out.htm']:
                    with open(secret + '/' + name, 'wb') as f:
                        f.write(ROOTS)
                    os.chmod(secret + '/' + name, 0o600)
                if i == 0:
                    # The two links, made by the user (the flipper swaps them).
                    target = 'page.htm' if mode == 'page' else 'out.htm'
                    for link, to in [('link.htm', mine + '/' + target), ('other', secret + '/' + target)]:
                        subprocess.run(['runuser', '-u', 'nobody', '--', 'ln', '-sfn', to, shared + '/' + link],
                                       check=True)
                    if mode == '-o':
                        with open(mine + '/out.htm', 'wb') as f:
                            f.write(b'x')
                        os.chown(mine + '/out.htm', nobody.pw_uid, nobody.pw_gid)
                shutil.rmtree(root + '/home', ignore_errors=True)
                args = [shared + '/link.htm'] if mode == 'page' else ['-o', shared + '/link.htm',
                                                                        mine + '/page.htm']
                subprocess.run([webtrim, '-q'] + args, env=env, capture_output=True, timeout=60)
                runs[mode] += 1
                trash = root + '/home/data/Trash/files'
                trashed = [open(trash + '/' + f, 'rb').read() for f in os.listdir(trash)] \
                    if os.path.isdir(trash) else []
                touched = any(open(secret + '/' + n, 'rb').read() != ROOTS for n in ['page.htm', 'out.htm']) \
                    or sorted(os.listdir(secret)) != ['out.htm', 'page.htm'] or ROOTS in trashed
                failures[mode] += touched
            flip.kill()
            flip.wait()
            flip = None
    finally:
        if flip:
            flip.kill()
            flip.wait()
        shutil.rmtree(root, ignore_errors=True)
    for mode in runs:
        print('%-5s %d runs, %d touched root\'s files' % (mode, runs[mode], failures[mode]))
    sys.exit(1 if any(failures.values()) else 0)


if __name__ == '__main__':
    main()
