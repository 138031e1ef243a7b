// Talks to the test session's GNOME Shell over the session bus (see gnome_session.sh).
//
//   gjs -m shell_client.js eval JS               prints the value (strings as they are, the
//                                                rest as JSON); status 1 when the code threw
//   gjs -m shell_client.js until SECONDS WANT JS evaluates JS until it prints WANT; status 1
//                                                with the last value when the time is up
//   gjs -m shell_client.js ready SECONDS         waits until the shell evaluates code
//   gjs -m shell_client.js has-owner NAME        prints true or false
//
// Waiting is by polling the shell: its state changes come from its own main loop, and Eval is
// the only way to see them. The time limits only bound a hung shell.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import system from 'system';

const POLL_MS = 50;
const bus = Gio.DBus.session;

function shellEval(code) {
    const reply = bus.call_sync('org.gnome.Shell', '/org/gnome/Shell', 'org.gnome.Shell', 'Eval',
        new GLib.Variant('(s)', [code]), null, Gio.DBusCallFlags.NO_AUTO_START, 10000, null);
    const [success, json] = reply.deepUnpack();
    if (!success) return {ok: false, text: json};
    if (json === '') return {ok: true, text: 'undefined'};
    const value = JSON.parse(json);
    return {ok: true, text: typeof value === 'string' ? value : JSON.stringify(value)};
}

function poll(seconds, attempt) {
    const deadline = GLib.get_monotonic_time() + seconds * 1000000;
    const loop = new GLib.MainLoop(null, false);
    let outcome = null;
    const step = () => {
        outcome = attempt();
        if (outcome.done || GLib.get_monotonic_time() > deadline) {
            loop.quit();
            return GLib.SOURCE_REMOVE;
        }
        return GLib.SOURCE_CONTINUE;
    };
    if (step() === GLib.SOURCE_CONTINUE) {
        GLib.timeout_add(GLib.PRIORITY_DEFAULT, POLL_MS, step);
        loop.run();
    }
    return outcome;
}

const [command, ...args] = system.programArgs;
switch (command) {
case 'eval': {
    const result = shellEval(args[0]);
    print(result.text);
    system.exit(result.ok ? 0 : 1);
    break;
}
case 'until': {
    const [seconds, want, code] = args;
    const outcome = poll(Number(seconds), () => {
        const result = shellEval(code);
        return {done: result.ok && result.text === want, result};
    });
    if (!outcome.done) {
        printerr(`timed out after ${seconds} s waiting for ${JSON.stringify(want)}; last value ` +
            `${JSON.stringify(outcome.result.text)}${outcome.result.ok ? '' : ' (threw)'}`);
        system.exit(1);
    }
    break;
}
case 'ready': {
    const outcome = poll(Number(args[0]), () => {
        try {
            return {done: shellEval('1').ok};
        } catch (e) {
            // Not on the bus yet.
            return {done: false, error: e.message};
        }
    });
    if (!outcome.done) {
        printerr(`the shell did not answer within ${args[0]} s: ${outcome.error ?? 'Eval refused'}`);
        system.exit(1);
    }
    break;
}
case 'has-owner': {
    const reply = bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus',
        'org.freedesktop.DBus', 'NameHasOwner', new GLib.Variant('(s)', [args[0]]), null,
        Gio.DBusCallFlags.NONE, 10000, null);
    print(reply.deepUnpack()[0]);
    break;
}
default:
    printerr(`unknown command: ${command}`);
    system.exit(2);
}
