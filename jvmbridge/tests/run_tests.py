#!/usr/bin/env python3
"""Runs the Windows test host against jvm.dll (the bridge) under Wine.

Every case lays out a small installation inside the prefix's drive C (the
bridge copied as jvm.dll, a jvmbridge.cfg beside it, the probe jar in lib),
runs host.exe and checks its output, exit code and the bridge's record.
Exit code 0 when every case passed."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

INSTALL = 'jb tests'              # a blank in the path on purpose
JDK_DIR = INSTALL + '/jdk/jre/bin/default'
LIB_DIR = INSTALL + '/Velmorane/lib'
WIN_DLL = 'C:\\jb tests\\jdk\\jre\\bin\\default\\jvm.dll'
WIN_LIB = 'C:\\jb tests\\Velmorane\\lib\\'
CLASS_PATH = WIN_LIB + 'probe.jar;' + WIN_LIB + 'later.jar;C:\\no such dir\\x.jar;'


def unescape(text):
    """A record field back to its bytes."""
    import codecs
    return codecs.escape_decode(text.encode('ascii'))[0]


class Runner:
    def __init__(self, args):
        self.args = args
        self.prefix = os.path.abspath(args.prefix)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=')
        self.env.pop('WINEDLLPATH', None)
        # The bridge hands these on from the Windows environment, which Wine
        # builds from this one.
        self.env.pop('JAVA_TOOL_OPTIONS', None)
        self.env.pop('_JAVA_OPTIONS', None)
        self.failures = 0
        self.work = tempfile.mkdtemp(prefix='jvmbridge-test-')

    def drive_c(self, rel=''):
        return os.path.join(self.prefix, 'drive_c', rel)

    def boot(self):
        if not os.path.exists(os.path.join(self.prefix, 'system.reg')):
            # Helpers started by the first wine command keep inherited
            # descriptors: never hand them a pipe.
            subprocess.run(['wineboot', '-i'], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        subprocess.run(['wineserver', '-p30'], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(self.drive_c(INSTALL), ignore_errors=True)
        os.makedirs(self.drive_c(JDK_DIR))
        os.makedirs(self.drive_c(LIB_DIR))
        shutil.copyfile(self.args.bridge, self.drive_c(JDK_DIR + '/jvm.dll'))
        shutil.copyfile(self.args.probe_jar, self.drive_c(LIB_DIR + '/probe.jar'))
        shutil.copyfile(self.args.probe_jar, self.drive_c(LIB_DIR + '/later.jar'))

    def write_cfg(self, text):
        path = self.drive_c(JDK_DIR + '/jvmbridge.cfg')
        if text is None:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, 'w', encoding='ascii') as f:
            f.write(text)

    def run_host(self, mode, class_path=CLASS_PATH):
        out_path = os.path.join(self.work, 'out.txt')
        err_path = os.path.join(self.work, 'err.txt')
        with open(out_path, 'wb') as out, open(err_path, 'wb') as err:
            proc = subprocess.run(['wine', self.args.host, WIN_DLL, mode, class_path],
                                  env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=300, check=False, cwd=self.work)
        with open(out_path, encoding='utf-8', errors='replace') as f:
            out_text = f.read()
        with open(err_path, encoding='utf-8', errors='replace') as f:
            err_text = f.read()
        return proc.returncode, out_text, err_text

    def record_path(self):
        return os.path.join(self.work, 'record.txt')

    def read_record(self, path=None):
        path = path or self.record_path()
        if not os.path.exists(path):
            return []
        with open(path, encoding='ascii') as f:
            return f.read().splitlines()

    def fresh_record(self):
        if os.path.exists(self.record_path()):
            os.remove(self.record_path())

    def expect(self, case, cond, what, detail=''):
        if cond:
            print('ok   %s: %s' % (case, what))
        else:
            self.failures += 1
            print('FAIL %s: %s' % (case, what))
            if detail:
                print('     ' + detail.replace('\n', '\n     '))

    # ------------------------------------------------------------- cases

    def case_full(self):
        case = 'full'
        self.fresh_record()
        self.write_cfg('# test settings\nrecord=%s\n' % self.record_path())
        rc, out, err = self.run_host('full')
        self.expect(case, rc == 0 and 'PASSED: 0 failure(s)' in out and 'FAIL' not in out,
                    'host checks pass', out + err)
        lib = os.path.realpath(self.drive_c(LIB_DIR))
        self.expect(case, 'probe: java.class.path=%s/probe.jar:%s/later.jar\n' % (lib, lib) in out,
                    'HotSpot sees the Linux class path, unreachable elements dropped', out)
        self.expect(case, 'probe: main args=1 arg0=hello\\n\n' in out, 'main gets its argument', out)
        self.expect(case, 'probe: jdk.nativeDigest=false\n' in out, 'first option reaches HotSpot', out)
        self.expect(case, 'jvmbridge: refusing to create HotSpot on the process\'s main thread' in err,
                    'main-thread refusal is explained on stderr', err)
        rec = self.read_record()
        opt_cp = ('option -Djava.class.path=C:\\\\jb tests\\\\Velmorane\\\\lib\\\\probe.jar;'
                  'C:\\\\jb tests\\\\Velmorane\\\\lib\\\\later.jar;C:\\\\no such dir\\\\x.jar;\\n')
        want_head = [
            'JNI_CreateJavaVM version=0x00010006 nOptions=2 ignoreUnrecognized=0',
            'option -Djdk.nativeDigest=false',
            opt_cp,
            'JNI_CreateJavaVM refused main-thread',
            'JNI_CreateJavaVM result -1',
            'JNI_CreateJavaVM version=0x00010006 nOptions=2 ignoreUnrecognized=0',
            'option -Djdk.nativeDigest=false',
            opt_cp,
            'classpath-dropped C:\\\\no such dir\\\\x.jar',
            'classpath-dropped \\n',
            'hotspot-option -Djdk.nativeDigest=false',
            'hotspot-option -Djava.class.path=%s/probe.jar:%s/later.jar' % (lib, lib),
            'environment-unset JAVA_TOOL_OPTIONS',
            'environment-unset _JAVA_OPTIONS',
            'JNI_CreateJavaVM result 0',
            'FindClass BridgeProbe found',
            'GetStaticMethodID main ([Ljava/lang/String;)V found',
            'FindClass java/lang/String found',
            'NewObjectArray 1 ok',
            'NewStringUTF hello\\n',
            'SetObjectArrayElement 0',
        ]
        self.expect(case, rec[:len(want_head)] == want_head, 'record of creation and main call',
                    '\n'.join(rec[:len(want_head)]))
        self.expect(case, unescape(opt_cp[len('option '):]) ==
                    b'-Djava.class.path=C:\\jb tests\\Velmorane\\lib\\probe.jar;'
                    b'C:\\jb tests\\Velmorane\\lib\\later.jar;C:\\no such dir\\x.jar;\n',
                    'record fields unescape to the exact option bytes')
        # main's call is recorded on the far side of the event that lets the other
        # thread attach, so the two may come in either order.
        for line in ['CallStaticVoidMethod main call', 'AttachCurrentThread 0', 'GetStaticMethodID stop ()V found',
                     'CallStaticVoidMethod stop returned', 'DetachCurrentThread 0',
                     'CallStaticVoidMethod main returned', 'CallStaticVoidMethodV check returned',
                     'ExceptionOccurred pending']:
            self.expect(case, line in rec, 'record has "%s"' % line)

    def case_unbridged(self):
        case = 'unbridged'
        self.fresh_record()
        self.write_cfg('record=%s\n' % self.record_path())
        rc, out, err = self.run_host('unbridged')
        self.expect(case, rc == 134, 'process ends with 134 at once (got %d)' % rc, out + err)
        self.expect(case, 'jvmbridge: FATAL: JNIEnv.GetVersion is not bridged\n' in err,
                    'stderr names the slot', err)
        rec = self.read_record()
        self.expect(case, rec[-1:] == ['FATAL JNIEnv.GetVersion is not bridged'],
                    'record ends with the FATAL line', '\n'.join(rec[-3:]))

    def case_relay(self):
        self.write_cfg(None)
        rc, out, err = self.run_host('relay')
        self.expect('relay', rc == 0 and 'PASSED: 0 failure(s)' in out and 'FAIL' not in out,
                    'what a method printed into a pipe has passed the relay when its call returns', out + err)

    def case_settings(self):
        win_record = 'C:\\jb tests\\record-win.txt'
        cases = [
            # name, cfg text (None: no file), expected result, stderr part,
            # record lines that must be present, record file
            ('no-cfg', None, 0, '', [], None),
            ('windows-record-path', 'record=%s\nhotspot-option=-Dbridge.extra=1\n' % win_record, 0,
             '', ['hotspot-option -Dbridge.extra=1', 'JNI_CreateJavaVM result 0'],
             self.drive_c(INSTALL + '/record-win.txt')),
            ('missing-libjvm', 'libjvm=/nonexistent/libjvm.so\nrecord=%s\n' % self.record_path(), -1,
             'jvmbridge: cannot load /nonexistent/libjvm.so',
             ['JNI_CreateJavaVM dlopen-failed /nonexistent/libjvm.so', 'JNI_CreateJavaVM result -1'],
             self.record_path()),
            ('unknown-key', 'colour=blue\n', -1, "jvmbridge.cfg line 1: unknown key 'colour'", [], None),
            ('no-equals', 'record\n', -1, 'jvmbridge.cfg line 1: expected key=value', [], None),
            ('hotspot-rejects-option', 'record=%s\nhotspot-option=-Xbogus\n' % self.record_path(), -1,
             '', ['hotspot-option -Xbogus', 'JNI_CreateJavaVM result -1'], self.record_path()),
        ]
        for name, cfg, want_rc, want_err, want_lines, record in cases:
            case = 'settings/' + name
            self.fresh_record()
            if record and os.path.exists(record):
                os.remove(record)
            self.write_cfg(cfg)
            rc, out, err = self.run_host('create')
            self.expect(case, 'JNI_CreateJavaVM returned %d\n' % want_rc in out,
                        'JNI_CreateJavaVM returns %d' % want_rc, out + err)
            if want_err:
                self.expect(case, want_err in err, 'stderr has "%s"' % want_err, err)
            rec = self.read_record(record) if record else []
            for line in want_lines:
                self.expect(case, line in rec, 'record has "%s"' % line, '\n'.join(rec))

    def run(self):
        self.boot()
        try:
            self.case_full()
            self.case_unbridged()
            self.case_relay()
            self.case_settings()
        finally:
            shutil.rmtree(self.work, ignore_errors=True)
        print('%s: %d failure(s)' % ('FAILED' if self.failures else 'PASSED', self.failures))
        return 1 if self.failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--bridge', required=True, help='jvm.dll.so')
    parser.add_argument('--host', required=True, help='host.exe')
    parser.add_argument('--probe-jar', required=True)
    parser.add_argument('--prefix', required=True, help='Wine prefix (made when missing)')
    sys.exit(Runner(parser.parse_args()).run())


if __name__ == '__main__':
    main()
