// The top-bar extension's logic (data/gnome-shell/.../logic.js) on status-file fixtures, with an
// injected clock. Runs every case against both builds of the module: the ES module GNOME Shell
// 45+ loads and the legacy-import form assemble.sh makes for 43-44.
//
//   gjs -m extension_logic_test.js SOURCE_FOLDER LEGACY_FOLDER FIXTURES_FOLDER
import GLib from 'gi://GLib';
import system from 'system';

const [sourceFolder, legacyFolder, fixtures] = system.programArgs;
if (!sourceFolder || !legacyFolder || !fixtures) {
    printerr('usage: gjs -m extension_logic_test.js SOURCE_FOLDER LEGACY_FOLDER FIXTURES_FOLDER');
    system.exit(2);
}

const moduleLogic = await import(`file://${sourceFolder}/logic.js`);
imports.searchPath.unshift(legacyFolder);
const legacyLogic = imports.logic;
// indicator.js needs GNOME Shell to run; both builds must at least load and offer its factory.
const indicatorBuilds = [
    ['module', (await import(`file://${sourceFolder}/indicator.js`)).createIndicator],
    ['legacy', imports.indicator.createIndicator],
];

const at = text => Date.parse(text);
const utc = now => ({now: at(now), utcOffsetMinutes: () => 0});
const moscow = now => ({now: at(now), utcOffsetMinutes: () => 180});
const NOW = '2026-12-10T18:25:00Z';

function fixture(name) {
    const [, bytes] = GLib.file_get_contents(`${fixtures}/${name}`);
    return bytes;
}
const encode = text => new TextEncoder().encode(text);

// A valid file padded with spaces to `size` bytes.
function padded(size) {
    const text = new TextDecoder().decode(fixture('fresh.json')).trim();
    return encode(text + ' '.repeat(size - encode(text).length));
}

// `count` providers at 50% but those given in `shares` (index: remaining percent).
function manyProviders(count, shares) {
    const providers = Array.from({length: count}, (_, i) => ({
        provider: `P${i}`, shortName: `P${i}`, enabled: true, text: `${shares[i] ?? 50}%`,
        remainingPercent: shares[i] ?? 50,
    }));
    return encode(JSON.stringify({
        version: 1, writtenAt: '2026-12-10T18:20:04Z', staleAfter: '2026-12-10T18:35:04Z',
        providers,
    }));
}

const FRESH_LINES = [
    'Claude — осталось 59%, Сессия - 5 часов, сброс в 21:00',
    'Codex — осталось 88%, Неделя, сброс 13.12 в 09:30',
];

// Each case: the file (fixture name, bytes, or a read outcome), whether Kestrane holds its bus
// name, the clock, and the parts of the view that matter for it.
const viewCases = [
    {
        name: 'fresh file: enabled providers in file order, menu lines, recommendation',
        file: 'fresh.json', running: true, clock: utc(NOW),
        expect: {
            state: 'fresh', visible: true, barText: 'Cl 59% · Cx 88%', levels: ['ok', 'ok'],
            notice: null, lines: FRESH_LINES, actionsEnabled: true,
            recommendation: 'Сейчас лучше Codex: к сбросу останется больше всего.',
            recheckAt: at('2026-12-10T18:35:04Z'),
        },
    },
    {
        name: 'fresh file before the bus has answered',
        file: 'fresh.json', running: null, clock: utc(NOW),
        expect: {state: 'fresh', barText: 'Cl 59% · Cx 88%', actionsEnabled: true},
    },
    {
        name: 'reset times in the local zone, with the day when it is not today',
        file: 'fresh.json', running: true, clock: moscow(NOW),
        expect: {
            lines: [
                'Claude — осталось 59%, Сессия - 5 часов, сброс 11.12 в 00:00',
                'Codex — осталось 88%, Неделя, сброс 13.12 в 12:30',
            ],
        },
    },
    {
        name: 'past staleAfter: figures dimmed, time of the last write',
        file: 'fresh.json', running: true, clock: utc('2026-12-10T18:40:00Z'),
        expect: {
            state: 'stale', visible: true, barText: 'Cl 59% · Cx 88%', levels: ['stale', 'stale'],
            notice: 'Данные устарели: Kestrane не обновлял их с 18:20', lines: FRESH_LINES,
            actionsEnabled: true, recheckAt: null,
        },
    },
    {
        name: 'stale since another day',
        file: 'fresh.json', running: true, clock: moscow('2026-12-11T09:00:00Z'),
        expect: {state: 'stale', notice: 'Данные устарели: Kestrane не обновлял их с 10.12 21:20'},
    },
    {
        name: 'file left behind by a crash: bus name gone',
        file: 'fresh.json', running: false, clock: utc(NOW),
        expect: {
            state: 'not-running', barText: 'Kestrane', levels: ['off'],
            notice: 'Kestrane не запущен', lines: [], recommendation: null, actionsEnabled: false,
            recheckAt: null,
        },
    },
    {
        name: 'no file, bus not answered yet',
        file: {kind: 'missing'}, running: null, clock: utc(NOW),
        expect: {state: 'not-running', notice: 'Kestrane не запущен', actionsEnabled: false},
    },
    {
        name: 'no file, app gone',
        file: {kind: 'missing'}, running: false, clock: utc(NOW),
        expect: {state: 'not-running', barText: 'Kestrane', actionsEnabled: false},
    },
    {
        name: 'no file yet while the app runs',
        file: {kind: 'missing'}, running: true, clock: utc(NOW),
        expect: {
            state: 'missing', barText: 'Kestrane',
            notice: 'Kestrane запущен, но ещё не записал состояние лимитов', actionsEnabled: true,
        },
    },
    {
        name: 'unreadable file',
        file: {kind: 'unreadable', message: 'Permission denied\n'}, running: true, clock: utc(NOW),
        expect: {
            state: 'unreadable', barText: 'Kestrane', levels: ['error'],
            notice: 'Не удалось прочитать состояние Kestrane: Permission denied',
            actionsEnabled: true,
        },
    },
    {
        name: 'seven providers: accounts, level boundaries after rounding, no shortName, bar budget',
        file: 'several.json', running: true, clock: utc(NOW),
        expect: {
            // The last two give way to "+2" within the bar's budget; the menu has them all.
            barText: 'Cx 5% · Cu 6% · Cl 20% · Cl:work 21% · An 0% · +2',
            levels: ['critical', 'warning', 'warning', 'ok', 'critical', 'ok'],
            lines: [
                'Codex — осталось 5%, 5 часов',
                'Cursor — осталось 6%',
                'Claude — осталось 20%',
                'Claude (work) — осталось 21%',
                'Antigravity — осталось 0%',
                'GitHub Copilot — осталось 100%',
                'Gemini CLI — нет данных',
            ],
            recommendation: null,
        },
    },
    {
        name: 'failed fetch without figures, nothing yet, failure after good figures',
        file: 'errors.json', running: true, clock: utc(NOW),
        expect: {
            barText: 'Cl ! · Cx -- · Cu 12%', levels: ['unknown', 'unknown', 'warning'],
            lines: [
                'Claude — ошибка: Сервис ответил 401: войдите заново',
                'Codex — нет данных',
                'Cursor — осталось 12%, Месяц, ожидаем сброс, ошибка: Нет сети',
            ],
        },
    },
    {
        name: 'markup stays literal text; controls, bidi overrides, lone surrogates and lengths are cut',
        file: 'hostile.json', running: true, clock: utc(NOW),
        expect: {
            visible: true,
            barText: '<i>Cl</i> 59%<u> · ЖЖЖЖЖЖЖЖЖЖЖ… ЖЖЖЖЖЖЖ…',
            lines: [
                '<b>Claude</b> (w ork&amp;) — осталось 59%, [31mСессия 5 часов',
                `Codex\ufffd — осталось 88%, ${'Ж'.repeat(20)}${'W'.repeat(39)}…, ошибка: ` +
                    `${'Ж'.repeat(20)}${'W'.repeat(46)}…`, // 160 in all
            ],
            recommendation: '<span foreground="red">Лучше</span> Codex',
        },
    },
    {
        name: 'wrong types are dropped, never shown or trusted',
        file: 'wrong-types.json', running: true, clock: utc(NOW),
        expect: {
            state: 'fresh', visible: true, barText: 'Co -- · Ki 7%', levels: ['unknown', 'unknown'],
            lines: ['Codex — нет данных', 'Kimi — нет данных'], recommendation: null,
            recheckAt: at('2026-12-10T18:35:04Z'),
        },
    },
    {
        name: 'file of an older writer: no staleAfter, shortName or shellIndicator',
        file: 'older-writer.json', running: true, clock: utc(NOW),
        expect: {
            state: 'fresh', visible: true, barText: 'Cl 3%', levels: ['critical'],
            lines: ['Claude — осталось 3%, Сессия - 5 часов, сброс в 23:00'],
            recheckAt: at('2026-12-10T18:35:04Z'),
        },
    },
    {
        name: 'older writer after its fallback freshness',
        file: 'older-writer.json', running: true, clock: utc('2026-12-10T18:35:04Z'),
        expect: {state: 'stale'},
    },
    {
        name: 'tray preferred: hidden while fresh',
        file: 'tray-preferred.json', running: true, clock: utc(NOW),
        expect: {state: 'fresh', visible: false, recheckAt: at('2026-12-10T18:35:04Z')},
    },
    {
        name: 'tray preferred but stale: shown',
        file: 'tray-preferred.json', running: true, clock: utc('2026-12-10T19:00:00Z'),
        expect: {state: 'stale', visible: true},
    },
    {
        name: 'tray preferred but the app is gone: shown',
        file: 'tray-preferred.json', running: false, clock: utc(NOW),
        expect: {state: 'not-running', visible: true},
    },
    {
        name: 'file cut off mid-write',
        file: 'truncated.json', running: true, clock: utc(NOW),
        expect: {
            state: 'malformed', barText: 'Kestrane', levels: ['error'],
            notice: 'Файл состояния Kestrane не разобрать: это не JSON', actionsEnabled: true,
        },
    },
    {
        name: 'newer format version',
        file: 'newer-version.json', running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: неизвестная версия формата'},
    },
    {
        name: '1 MB file',
        file: () => padded(1024 * 1024), running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: файл больше 256 КБ'},
    },
    {
        name: 'one byte over the limit',
        file: () => padded(256 * 1024 + 1), running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: файл больше 256 КБ'},
    },
    {
        name: 'exactly the limit',
        file: () => padded(256 * 1024), running: true, clock: utc(NOW),
        expect: {state: 'fresh', barText: 'Cl 59% · Cx 88%'},
    },
    {
        name: 'not UTF-8',
        file: () => new Uint8Array([0x7b, 0xff, 0xfe, 0x7d]), running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: текст не в UTF-8'},
    },
    {
        name: 'JSON array instead of an object',
        file: () => encode('[]'), running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: ожидался объект JSON'},
    },
    {
        name: 'no write time',
        file: () => encode('{"version":1,"providers":[],"writtenAt":"вчера"}'), running: true,
        clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: нет времени записи'},
    },
    {
        name: 'no provider list',
        file: () => encode('{"version":1,"writtenAt":"2026-12-10T18:20:04Z","providers":{}}'),
        running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: нет списка сервисов'},
    },
    {
        name: 'unterminated nesting',
        file: () => encode('['.repeat(200000)), running: true, clock: utc(NOW),
        expect: {state: 'malformed', notice: 'Файл состояния Kestrane не разобрать: это не JSON'},
    },
    {
        // Either the parser's depth limit or the shape check stops it; it must not crash.
        name: 'deep nesting within the size limit',
        file: () => encode(`${'['.repeat(100000)}${']'.repeat(100000)}`), running: true,
        clock: utc(NOW),
        expect: {state: 'malformed'},
    },
    {
        name: 'every provider switched off',
        file: () => encode('{"version":1,"writtenAt":"2026-12-10T18:20:04Z","providers":[]}'),
        running: true, clock: utc(NOW),
        expect: {
            state: 'fresh', barText: 'Kestrane', levels: ['unknown'],
            lines: ['Все сервисы выключены в настройках Kestrane'],
        },
    },
    {
        name: '"+N" takes the most urgent level of the providers it stands for',
        file: () => manyProviders(15, {13: 3}), running: true, clock: utc(NOW),
        expect: {
            barText: 'P0 50% · P1 50% · P2 50% · P3 50% · P4 50% · +10',
            levels: ['ok', 'ok', 'ok', 'ok', 'ok', 'critical'],
        },
    },
    {
        name: '"+N" of stale figures is stale too',
        file: () => manyProviders(15, {13: 3}), running: true, clock: utc('2026-12-10T19:00:00Z'),
        expect: {levels: ['stale', 'stale', 'stale', 'stale', 'stale', 'stale']},
    },
    {
        name: 'staleAfter a year ahead counts one day at most',
        file: () => encode('{"version":1,"writtenAt":"2026-12-10T18:20:04Z",' +
            '"staleAfter":"2027-12-10T18:20:04Z","providers":[]}'),
        running: true, clock: utc('2026-12-11T18:20:04Z'),
        expect: {state: 'stale'},
    },
];

// Whatever the file holds, what reaches the screen is one short line of plain characters.
const UNSAFE = /[\u0000-\u001f\u007f-\u009f\u200b-\u200f\u2028-\u202e\u2060-\u2069\ufeff\ud800-\udfff]/u;
function checkShownText(view, fail) {
    const shown = [...view.parts.map(p => p.text), ...view.lines.map(l => l.text)];
    if (view.notice !== null) shown.push(view.notice);
    if (view.recommendation !== null) shown.push(view.recommendation);
    for (const text of shown) {
        if (UNSAFE.test(text.replace(/\ufffd/g, ''))) fail(`unsafe character in ${JSON.stringify(text)}`);
        if (Array.from(text).length > 160) fail(`longer than 160 characters: ${JSON.stringify(text)}`);
    }
    for (const part of view.parts) {
        if (Array.from(part.text).length > 21) fail(`bar part too long: ${JSON.stringify(part.text)}`);
    }
}

function readFile(source, Logic) {
    if (typeof source === 'string') return Logic.decodeStatus(fixture(source));
    if (typeof source === 'function') return Logic.decodeStatus(source());
    return source;
}

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

let failures = 0;
let checks = 0;
function report(where, message) {
    failures++;
    printerr(`FAIL ${where}: ${message}`);
}

function runViewCases(Logic, build) {
    for (const c of viewCases) {
        checks++;
        const where = `[${build}] ${c.name}`;
        const view = Logic.describe(readFile(c.file, Logic), c.running, c.clock);
        const actual = {...view, levels: view.parts.map(p => p.level), lines: view.lines.map(l => l.text)};
        for (const [key, expected] of Object.entries(c.expect)) {
            if (!same(actual[key], expected)) {
                report(where, `${key}\n  expected ${JSON.stringify(expected)}\n  got      ${JSON.stringify(actual[key])}`);
            }
        }
        checkShownText(view, message => report(where, message));
    }
}

function runUnitTables(Logic, build) {
    const table = (name, rows, fn) => {
        for (const [input, expected] of rows) {
            checks++;
            const got = fn(...input);
            if (!same(got, expected)) {
                report(`[${build}] ${name}(${JSON.stringify(input)})`,
                    `expected ${JSON.stringify(expected)}, got ${JSON.stringify(got)}`);
            }
        }
    };

    table('parseInstant', [
        [['2026-12-10T18:20:04Z'], at('2026-12-10T18:20:04Z')],
        [['2026-12-10t18:20:04.5z'], at('2026-12-10T18:20:04.500Z')],
        [['2026-12-10T21:20:04.123456789+03:00'], at('2026-12-10T18:20:04.123Z')],
        [['2026-12-10T15:20:04-03:00'], at('2026-12-10T18:20:04Z')],
        [['2028-02-29T00:00:00Z'], at('2028-02-29T00:00:00Z')],
        [['2026-02-29T00:00:00Z'], null],
        [['2026-13-01T00:00:00Z'], null],
        [['2026-12-10T24:00:00Z'], null],
        [['2026-12-10T18:20:04+24:00'], null],
        [['2026-12-10 18:20:04Z'], null],
        [['2026-12-10T18:20:04'], null],
        [['1765390804'], null],
        [[1765390804000], null],
        [[null], null],
    ], Logic.parseInstant);

    table('levelOf', [
        [[100], 'ok'], [[20.5], 'ok'], [[20.49], 'warning'], [[5.5], 'warning'],
        [[5.49], 'critical'], [[0], 'critical'], [[-3], 'critical'], [[250], 'ok'],
        [[null], 'unknown'], [[NaN], 'unknown'], [[Infinity], 'unknown'], [['59'], 'unknown'],
    ], Logic.levelOf);

    table('plainText', [
        [['  a\tb\n\nc  ', 20], 'a b c'],
        [['😀'.repeat(10), 5], '😀😀😀😀…'],
        [['abcdef', 6], 'abcdef'],
        [['abcdefg', 6], 'abcde…'],
        [['\u202eabc\u2066', 10], 'abc'],
        [['x\udc00y', 10], 'x\ufffdy'],
        [[42, 10], ''],
        [[`${' '.repeat(100000)}x`, 10], ''],
    ], Logic.plainText);

    const fresh = {recheckAt: at('2026-12-10T18:35:04Z')};
    table('recheckDelaySeconds', [
        [[{recheckAt: null}, at(NOW)], null],
        [[fresh, at('2026-12-10T18:35:00Z')], 5],
        [[fresh, at('2026-12-10T18:40:00Z')], 1],
        [[fresh, at(NOW)], 60],
    ], Logic.recheckDelaySeconds);

    const [overview, refresh, settings] = Logic.ACTIONS;
    table('callFailureText', [
        [[refresh, 'org.freedesktop.DBus.Error.ServiceUnknown', 'x'],
            'Не удалось обновить данные Kestrane: Kestrane не запущен'],
        [[overview, 'org.freedesktop.DBus.Error.NoReply', 'x'],
            'Не удалось открыть лимиты Kestrane: Kestrane не ответил'],
        [[settings, 'org.freedesktop.DBus.Error.UnknownMethod', 'x'],
            'Не удалось открыть настройки Kestrane: эта версия Kestrane так не умеет, обновите её'],
        [[refresh, 'io.github.kestrane.Error.Busy', 'Идёт обновление\n<b>'],
            'Не удалось обновить данные Kestrane: Идёт обновление <b>'],
        [[refresh, null, ''], 'Не удалось обновить данные Kestrane: неизвестная ошибка'],
    ], Logic.callFailureText);
}

for (const [Logic, build] of [[moduleLogic, 'module'], [legacyLogic, 'legacy']]) {
    if (typeof Logic.describe !== 'function') {
        report(build, 'the module does not expose describe()');
        continue;
    }
    runViewCases(Logic, build);
    runUnitTables(Logic, build);
}

for (const [build, factory] of indicatorBuilds) {
    checks++;
    if (typeof factory !== 'function') report(build, 'indicator.js does not expose createIndicator()');
}

// Both builds must expose the same names, or one shell generation misses something.
const moduleNames = Object.keys(moduleLogic).sort();
const legacyNames = moduleNames.filter(name => name in legacyLogic);
checks++;
if (!same(moduleNames, legacyNames)) {
    report('legacy build', `missing ${moduleNames.filter(n => !legacyNames.includes(n)).join(', ')}`);
}

if (failures > 0) {
    printerr(`${failures} of ${checks} checks failed`);
    system.exit(1);
}
print(`extension logic: all ${checks} checks passed (ES module and legacy builds)`);
