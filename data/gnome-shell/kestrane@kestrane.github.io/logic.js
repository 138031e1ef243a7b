// Everything the top-bar indicator decides without GNOME Shell: reading Kestrane's status file,
// the bar line, the levels, the menu texts and the messages for what went wrong.
//
// This is an ES module as GNOME Shell 45+ loads it. For 43-44 assemble.sh turns each
// `export function` into a plain function and each `export const` into a `var`, which is what
// the legacy importer exposes; so the file imports nothing and exports nothing else. gjs loads it
// as it is in the tests.

export const STATUS_DIR_NAME = 'kestrane';
export const STATUS_FILE_NAME = 'status.json';
// The writer's files are a few KB; anything near this is not ours.
export const STATUS_FILE_LIMIT = 256 * 1024;

export const APP_BUS_NAME = 'io.github.kestrane.Kestrane';
export const APP_OBJECT_PATH = '/io/github/kestrane/Kestrane';
export const APP_INTERFACE = 'io.github.kestrane.Kestrane';
// Owned while the indicator is enabled: Kestrane then knows the top bar has a place for it.
export const INDICATOR_BUS_NAME = 'io.github.kestrane.ShellIndicator';
export const STATUS_AREA_ROLE = 'kestrane@kestrane.github.io';

// Files from before `staleAfter` existed: three default refresh periods.
export const FALLBACK_FRESHNESS_MS = 15 * 60 * 1000;
// However far `staleAfter` claims, a day-old state is old.
export const MAX_FRESHNESS_MS = 24 * 60 * 60 * 1000;
// The staleness check runs at least this often, so a suspend (which stops monotonic timers)
// leaves old figures looking fresh for a minute at most.
export const MAX_RECHECK_SECONDS = 60;

const MAX_PROVIDERS = 32;
// About 420 px of the panel's font: fits beside the clock on a 1280 px screen. Beyond it the
// shell would squeeze every label and cut its figures ("Gh 1…"), so whole parts give way to
// "+N" instead; the menu lists them all.
export const BAR_CHARACTER_BUDGET = 50;
const BAR_SEPARATOR = ' · ';
const SHORT_NAME_LIMIT = 12;
const SHORT_TEXT_LIMIT = 8;
const NAME_LIMIT = 40;
const ACCOUNT_LIMIT = 24;
const TITLE_LIMIT = 60;
const LINE_LIMIT = 160;
const MESSAGE_LIMIT = 200;

export const NOT_RUNNING_TEXT = 'Kestrane не запущен';
const BAR_TITLE = 'Kestrane';

// The menu's commands and the app's D-Bus methods behind them. Kestrane versions without
// ShowScreen still have Activate, which opens the same panel.
export const ACTIONS = [
    {
        id: 'overview',
        label: 'Показать лимиты',
        method: 'ShowScreen',
        argument: 'overview',
        fallbackMethod: 'Activate',
        failure: 'Не удалось открыть лимиты Kestrane',
    },
    {
        id: 'refresh',
        label: 'Обновить',
        method: 'Refresh',
        argument: null,
        fallbackMethod: null,
        failure: 'Не удалось обновить данные Kestrane',
    },
    {
        id: 'settings',
        label: 'Настройки',
        method: 'ShowScreen',
        argument: 'settings',
        fallbackMethod: null,
        failure: 'Не удалось открыть настройки Kestrane',
    },
];

// Control characters (they would break the bar into lines), line and paragraph separators,
// zero-width characters and bidirectional embeddings, overrides and isolates (they can reorder
// what the user reads). Everything shown is set as plain text, so markup needs no escaping.
const UNSAFE_CHARACTERS =
    /[\u0000-\u001f\u007f-\u009f\u200b-\u200f\u2028-\u202e\u2060-\u2069\ufeff]/g;
const LONE_SURROGATES = /[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g;

// Plain one-line text of at most `limit` characters, '' for anything that is not a string.
export function plainText(value, limit) {
    if (typeof value !== 'string') return '';
    // Longer input is cut first so that a 200 KB string costs no more than a short one.
    let text = value.length > limit * 4 + 16 ? value.slice(0, limit * 4 + 16) : value;
    text = text.replace(LONE_SURROGATES, '\ufffd').replace(UNSAFE_CHARACTERS, ' ');
    text = text.replace(/\s+/g, ' ').trim();
    const characters = Array.from(text);
    if (characters.length > limit)
        text = `${characters.slice(0, limit - 1).join('').trimEnd()}…`;
    return text;
}

const INSTANT = /^(\d{4})-(\d{2})-(\d{2})[Tt](\d{2}):(\d{2}):(\d{2})(\.\d{1,9})?([Zz]|([+-])(\d{2}):(\d{2}))$/;

// Milliseconds since the epoch of an RFC 3339 instant, or null.
export function parseInstant(value) {
    if (typeof value !== 'string' || value.length > 40) return null;
    const m = INSTANT.exec(value);
    if (m === null) return null;
    const [year, month, day, hour, minute, second] = m.slice(1, 7).map(Number);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return null;
    const fraction = m[7] ? Math.floor(Number(`0${m[7]}`) * 1000) : 0;
    let offsetMinutes = 0;
    if (m[9]) {
        const hours = Number(m[10]);
        const minutes = Number(m[11]);
        if (hours > 23 || minutes > 59) return null;
        offsetMinutes = (m[9] === '-' ? -1 : 1) * (hours * 60 + minutes);
    }
    const local = Date.UTC(year, month - 1, day, hour, minute, Math.min(second, 59), fraction);
    // 31 February and the like roll over in Date.UTC; they are not dates.
    if (new Date(local).getUTCDate() !== day) return null;
    return local - offsetMinutes * 60 * 1000;
}

// The clock of the running shell: real time and the local zone's offset.
export function systemClock() {
    return {now: Date.now(), utcOffsetMinutes: ms => -new Date(ms).getTimezoneOffset()};
}

function localFields(ms, clock) {
    const local = new Date(ms + clock.utcOffsetMinutes(ms) * 60 * 1000);
    const two = n => String(n).padStart(2, '0');
    return {
        day: `${local.getUTCFullYear()}-${local.getUTCMonth()}-${local.getUTCDate()}`,
        date: `${two(local.getUTCDate())}.${two(local.getUTCMonth() + 1)}`,
        time: `${two(local.getUTCHours())}:${two(local.getUTCMinutes())}`,
    };
}

// "21:00" today, otherwise with the day: `${date}${glue}21:00`.
function clockText(ms, clock, glue) {
    const at = localFields(ms, clock);
    if (at.day === localFields(clock.now, clock).day) return at.time;
    return `${at.date}${glue}${at.time}`;
}

function shownPercent(remainingPercent) {
    return Math.round(Math.min(100, Math.max(0, remainingPercent)));
}

// critical, warning, ok or unknown, from the remaining share as the bar shows it (rounded).
export function levelOf(remainingPercent) {
    if (typeof remainingPercent !== 'number' || !Number.isFinite(remainingPercent))
        return 'unknown';
    const shown = shownPercent(remainingPercent);
    if (shown <= 5) return 'critical';
    if (shown <= 20) return 'warning';
    return 'ok';
}

function isObject(value) {
    return typeof value === 'object' && value !== null && !Array.isArray(value);
}

function malformed(reason) {
    return {kind: 'malformed', reason};
}

export function oversized() {
    return malformed('файл больше 256 КБ');
}

function decodeProvider(entry) {
    if (!isObject(entry)) return null;
    const provider = plainText(entry.provider, NAME_LIMIT);
    if (provider === '') return null;
    const remaining = entry.remainingPercent;
    const account = isObject(entry.account) ? plainText(entry.account.label, ACCOUNT_LIMIT) : '';
    return {
        provider,
        shortName:
            plainText(entry.shortName, SHORT_NAME_LIMIT) || Array.from(provider).slice(0, 2).join(''),
        account: account || null,
        enabled: entry.enabled === true,
        text: plainText(entry.text, SHORT_TEXT_LIMIT) || '--',
        remainingPercent:
            typeof remaining === 'number' && Number.isFinite(remaining) ? remaining : null,
        windowTitle: plainText(entry.windowTitle, TITLE_LIMIT) || null,
        resetsAt: parseInstant(entry.resetsAt),
        // An empty message still says the fetch failed.
        error: typeof entry.error === 'string' ? plainText(entry.error, MESSAGE_LIMIT) || 'ошибка' : null,
    };
}

// The status file's bytes (Uint8Array) or text, checked: {kind: 'status', status} or
// {kind: 'malformed', reason}.
export function decodeStatus(data) {
    let text = data;
    if (typeof data !== 'string') {
        if (data.length > STATUS_FILE_LIMIT) return oversized();
        try {
            text = new TextDecoder('utf-8', {fatal: true}).decode(data);
        } catch (e) {
            return malformed('текст не в UTF-8');
        }
    }
    if (text.length > STATUS_FILE_LIMIT) return oversized();
    let document;
    try {
        document = JSON.parse(text);
    } catch (e) {
        return malformed('это не JSON');
    }
    if (!isObject(document)) return malformed('ожидался объект JSON');
    if (document.version !== 1) return malformed('неизвестная версия формата');
    const writtenAt = parseInstant(document.writtenAt);
    if (writtenAt === null) return malformed('нет времени записи');
    if (!Array.isArray(document.providers)) return malformed('нет списка сервисов');
    const providers = [];
    for (const entry of document.providers.slice(0, MAX_PROVIDERS)) {
        const provider = decodeProvider(entry);
        if (provider !== null) providers.push(provider);
    }
    let recommendation = null;
    if (isObject(document.recommendation))
        recommendation = plainText(document.recommendation.text, LINE_LIMIT) || null;
    const staleAfter = parseInstant(document.staleAfter);
    const freshUntil = Math.min(
        staleAfter ?? writtenAt + FALLBACK_FRESHNESS_MS,
        writtenAt + MAX_FRESHNESS_MS);
    return {
        kind: 'status',
        status: {
            writtenAt,
            freshUntil,
            shellIndicator: document.shellIndicator !== false,
            providers,
            recommendation,
        },
    };
}

function resetText(resetsAt, clock) {
    if (resetsAt <= clock.now) return 'ожидаем сброс';
    const at = clockText(resetsAt, clock, ' в ');
    return at.includes(' в ') ? `сброс ${at}` : `сброс в ${at}`;
}

function providerLine(p, clock) {
    const name = p.account ? `${p.provider} (${p.account})` : p.provider;
    const facts = [];
    if (p.remainingPercent !== null) {
        facts.push(`осталось ${shownPercent(p.remainingPercent)}%`);
        if (p.windowTitle) facts.push(p.windowTitle);
        if (p.resetsAt !== null) facts.push(resetText(p.resetsAt, clock));
    }
    if (p.error !== null) facts.push(`ошибка: ${p.error}`);
    if (facts.length === 0) facts.push('нет данных');
    return {text: plainText(`${name} — ${facts.join(', ')}`, LINE_LIMIT), level: levelOf(p.remainingPercent)};
}

const LEVEL_RANK = {unknown: 0, ok: 1, warning: 2, critical: 3};

// The enabled providers in file order while they fit the budget (the first always), then "+N"
// in the most urgent level of those it stands for.
function barParts(shown, stale) {
    const parts = shown.map(p => ({
        text: `${p.shortName} ${p.text}`,
        level: stale ? 'stale' : levelOf(p.remainingPercent),
    }));
    const width = count => {
        const text = parts.slice(0, count).map(p => p.text).join(BAR_SEPARATOR);
        const more = count < parts.length ? `${BAR_SEPARATOR}+${parts.length - count}` : '';
        return Array.from(text + more).length;
    };
    let count = parts.length;
    while (count > 1 && width(count) > BAR_CHARACTER_BUDGET) count--;
    if (count === parts.length) return parts;
    const rest = parts.slice(count);
    const level = stale ? 'stale'
        : rest.map(p => p.level).reduce((a, b) => (LEVEL_RANK[b] > LEVEL_RANK[a] ? b : a));
    return [...parts.slice(0, count), {text: `+${rest.length}`, level}];
}

function titleOnly(level) {
    return [{text: BAR_TITLE, level}];
}

// What the indicator shows.
//   file: {kind: 'missing'} | {kind: 'unreadable', message} | a decodeStatus() result
//   appRunning: whether Kestrane holds its bus name; null until the bus has said
//   clock: {now, utcOffsetMinutes(ms)}
// Returns {state, visible, parts: [{text, level}], barText, notice, lines: [{text, level}],
// recommendation, actionsEnabled, recheckAt}. `state` is one of fresh, stale, not-running,
// missing, unreadable, malformed; `recheckAt` is when the staleness check must run again.
export function describe(file, appRunning, clock) {
    const view = {
        state: 'fresh',
        visible: true,
        parts: titleOnly('off'),
        notice: null,
        lines: [],
        recommendation: null,
        actionsEnabled: appRunning !== false,
        recheckAt: null,
    };
    // A crash leaves the file behind; the bus name goes with the process.
    if (appRunning === false || (file.kind === 'missing' && appRunning !== true)) {
        view.state = 'not-running';
        view.notice = NOT_RUNNING_TEXT;
        view.actionsEnabled = false;
    } else if (file.kind === 'missing') {
        view.state = 'missing';
        view.notice = 'Kestrane запущен, но ещё не записал состояние лимитов';
    } else if (file.kind === 'unreadable') {
        view.state = 'unreadable';
        view.parts = titleOnly('error');
        view.notice = plainText(
            `Не удалось прочитать состояние Kestrane: ${plainText(file.message, MESSAGE_LIMIT) || 'ошибка'}`,
            LINE_LIMIT);
    } else if (file.kind === 'malformed') {
        view.state = 'malformed';
        view.parts = titleOnly('error');
        view.notice = `Файл состояния Kestrane не разобрать: ${file.reason}`;
    } else {
        const status = file.status;
        const shown = status.providers.filter(p => p.enabled);
        const stale = clock.now >= status.freshUntil;
        view.lines = shown.map(p => providerLine(p, clock));
        if (shown.length === 0)
            view.lines = [{text: 'Все сервисы выключены в настройках Kestrane', level: 'unknown'}];
        view.recommendation = status.recommendation;
        view.parts = barParts(shown, stale);
        if (view.parts.length === 0) view.parts = titleOnly(stale ? 'stale' : 'unknown');
        if (stale) {
            view.state = 'stale';
            view.notice = `Данные устарели: Kestrane не обновлял их с ${clockText(status.writtenAt, clock, ' ')}`;
        } else {
            view.visible = status.shellIndicator;
            view.recheckAt = status.freshUntil;
        }
    }
    view.barText = view.parts.map(p => p.text).join(BAR_SEPARATOR);
    return view;
}

// Seconds until the staleness check, or null when nothing changes with time.
export function recheckDelaySeconds(view, now) {
    if (view.recheckAt === null) return null;
    const seconds = Math.ceil((view.recheckAt - now) / 1000) + 1;
    return Math.min(Math.max(seconds, 1), MAX_RECHECK_SECONDS);
}

// The notification text for a failed menu command; `errorName` is the D-Bus error's name
// (null for a local failure).
export function callFailureText(action, errorName, message) {
    let reason;
    switch (errorName) {
    case 'org.freedesktop.DBus.Error.ServiceUnknown':
    case 'org.freedesktop.DBus.Error.NameHasNoOwner':
        reason = NOT_RUNNING_TEXT;
        break;
    case 'org.freedesktop.DBus.Error.NoReply':
    case 'org.freedesktop.DBus.Error.Timeout':
    case 'org.freedesktop.DBus.Error.TimedOut':
        reason = 'Kestrane не ответил';
        break;
    case 'org.freedesktop.DBus.Error.UnknownMethod':
    case 'org.freedesktop.DBus.Error.UnknownInterface':
    case 'org.freedesktop.DBus.Error.UnknownObject':
        reason = 'эта версия Kestrane так не умеет, обновите её';
        break;
    default:
        reason = plainText(message, MESSAGE_LIMIT) || 'неизвестная ошибка';
    }
    return `${action.failure}: ${reason}`;
}
