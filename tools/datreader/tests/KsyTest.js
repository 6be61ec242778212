// Compiles test_dat.ksy with the format's own compiler (from npm) and checks that
// it parses every fixture exactly as the reader does, partial records included.
//   node KsyTest.js <ksy> <fixtures dir> <reader> <work dir>
// Exit 77 (skipped) when the packages cannot be installed, e.g. offline.
'use strict';
const fs = require('fs');
const path = require('path');
const { execFileSync, spawnSync } = require('child_process');

const [ksyPath, fixtures, reader, work] = process.argv.slice(2).map((a) => path.resolve(a));
const SKIP = 77;
const packages = ['kaitai-struct-compiler@0.11.0', 'kaitai-struct@0.11.0', 'js-yaml@5.5.1'];

fs.mkdirSync(work, { recursive: true });
const have = (name) => fs.existsSync(path.join(work, 'node_modules', name, 'package.json'));
if (!['kaitai-struct-compiler', 'kaitai-struct', 'js-yaml'].every(have)) {
    const npm = spawnSync('npm', ['install', '--no-audit', '--no-fund', '--prefix', work, ...packages],
                          { encoding: 'utf8', timeout: 180000 });
    if (npm.status !== 0) {
        console.log('SKIP: could not install ' + packages.join(' ') + ' from npm\n' + (npm.stderr || npm.error));
        process.exit(SKIP);
    }
}

const need = (name) => require(path.join(work, 'node_modules', name));
const yaml = need('js-yaml');
const compiler = need('kaitai-struct-compiler');
const KaitaiStream = need('kaitai-struct').KaitaiStream;

function fail(message) {
    console.error('FAIL: ' + message);
    process.exitCode = 1;
}

compiler.compile('javascript', yaml.load(fs.readFileSync(ksyPath, 'utf8')), null, false).then((files) => {
    const name = Object.keys(files)[0];
    const out = path.join(work, name);
    fs.writeFileSync(out, files[name]);
    const TestDat = require(out).TestDat || require(out);

    let checked = 0;
    for (const file of fs.readdirSync(fixtures).filter((f) => f.endsWith('.dat')).sort()) {
        const bytes = fs.readFileSync(path.join(fixtures, file));
        let parsed;
        try {
            parsed = new TestDat(new KaitaiStream(bytes));
        } catch (e) {
            fail(file + ': the description does not parse it: ' + e);
            continue;
        }
        const listed = execFileSync(reader, ['--jsonl', path.join(fixtures, file)], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] })
            .split('\n').filter((l) => l).map((l) => JSON.parse(l));
        const ours = parsed.records.map((r) => [r.year, r.month, r.day].join('-'));
        const theirs = listed.map((r) => [r.year, r.month, r.day].join('-'));
        if (ours.join(' ') !== theirs.join(' '))
            fail(file + ': records ' + ours.join(' ') + ' but the reader lists ' + theirs.join(' '));
        const whole = Math.floor(bytes.length / 6) * 6;
        if (Buffer.compare(Buffer.from(parsed.trailing), bytes.subarray(whole)) !== 0)
            fail(file + ': trailing ' + Buffer.from(parsed.trailing).toString('hex') + ', expected ' +
                 bytes.subarray(whole).toString('hex'));
        if (bytes.length % 6 !== 0 && parsed.trailing.length === 0)
            fail(file + ': a partial record was dropped');
        ++checked;
    }
    if (checked < 2)
        fail('no fixtures found in ' + fixtures);
    console.log('parsed ' + checked + ' fixtures with ' + name + ' (compiler ' + compiler.version + ')');
}).catch((e) => fail('compile: ' + (e && e.stack || e)));
