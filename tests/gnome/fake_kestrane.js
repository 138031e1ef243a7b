// Stands in for the running Kestrane on the session bus: owns its name, serves its methods and
// prints each call as one line ("ShowScreen settings", "Refresh", "Activate").
//
//   gjs -m fake_kestrane.js [--activate-only]
//
// --activate-only serves Activate alone, as Kestrane versions before ShowScreen and Refresh;
// the bus then answers the others with UnknownMethod. Prints "ready" once the name is owned.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import system from 'system';

const activateOnly = system.programArgs[0] === '--activate-only';
const methods = activateOnly
    ? '<method name="Activate"/>'
    : `<method name="Activate"/>
       <method name="ShowScreen"><arg type="s" name="screen" direction="in"/></method>
       <method name="Refresh"/>`;
const xml = `<node><interface name="io.github.kestrane.Kestrane">${methods}</interface></node>`;

// print() flushes each line, so the test reads the calls as they come.
const record = print;

const service = {
    Activate() {
        record('Activate');
    },
    ShowScreen(screen) {
        record(`ShowScreen ${screen}`);
    },
    Refresh() {
        record('Refresh');
    },
};

const loop = new GLib.MainLoop(null, false);
const exported = Gio.DBusExportedObject.wrapJSObject(xml, service);
Gio.bus_own_name(Gio.BusType.SESSION, 'io.github.kestrane.Kestrane', Gio.BusNameOwnerFlags.NONE,
    connection => exported.export(connection, '/io/github/kestrane/Kestrane'),
    () => print('ready'),
    () => {
        printerr('fake_kestrane: could not own io.github.kestrane.Kestrane');
        system.exit(1);
    });
loop.run();
