// The top-bar indicator: watching the status file, the session bus and the widgets.
//
// It is given every module it uses (see extension.js for GNOME Shell 45+ and legacy/extension.js
// for 43-44), so one text serves both loaders; like logic.js it only uses `export function`.

// deps: {Gio, GLib, St, Clutter, Main, PanelMenu, PopupMenu, Logic}
export function createIndicator(deps) {
    return new KestraneIndicator(deps);
}

const CALL_TIMEOUT_MS = 10000;

class KestraneIndicator {
    constructor(deps) {
        this._deps = deps;
        this._enabled = false;
    }

    enable() {
        const {Gio, GLib, Logic} = this._deps;
        this._enabled = true;
        this._cancellable = new Gio.Cancellable();
        this._file = {kind: 'missing'};
        this._appRunning = null;
        this._reading = false;
        this._readAgain = false;
        this._recheckId = 0;
        this._shownParts = null;
        this._statusMonitor = null;

        this._buildButton();

        this._ownerId = Gio.bus_own_name(Gio.BusType.SESSION, Logic.INDICATOR_BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null, null);
        this._watchId = Gio.bus_watch_name(Gio.BusType.SESSION, Logic.APP_BUS_NAME,
            Gio.BusNameWatcherFlags.NONE,
            () => this._setAppRunning(true),
            () => this._setAppRunning(false));

        // The status folder may not exist yet and disappears with the app's runtime data, so
        // the runtime folder is watched for it; the status folder for the file, which the app
        // replaces by renaming a new one over it.
        const runtimeDir = Gio.File.new_for_path(GLib.get_user_runtime_dir());
        this._statusDir = runtimeDir.get_child(Logic.STATUS_DIR_NAME);
        this._statusFile = this._statusDir.get_child(Logic.STATUS_FILE_NAME);
        this._runtimeMonitor = runtimeDir.monitor_directory(Gio.FileMonitorFlags.WATCH_MOVES,
            this._cancellable);
        const appearsOrGoes = [Gio.FileMonitorEvent.CREATED, Gio.FileMonitorEvent.DELETED,
            Gio.FileMonitorEvent.MOVED_IN, Gio.FileMonitorEvent.MOVED_OUT,
            Gio.FileMonitorEvent.RENAMED];
        this._runtimeMonitor.connect('changed', (_monitor, file, otherFile, event) => {
            if (appearsOrGoes.includes(event) &&
                this._names(file, otherFile).includes(Logic.STATUS_DIR_NAME)) {
                this._watchStatusDir();
                this._read();
            }
        });
        this._watchStatusDir();
        this._read();
        this._update();
    }

    disable() {
        if (!this._enabled) return;
        const {Gio, GLib} = this._deps;
        this._enabled = false;
        this._cancellable.cancel();
        this._statusMonitor?.cancel();
        this._statusMonitor = null;
        this._runtimeMonitor.cancel();
        this._runtimeMonitor = null;
        if (this._recheckId !== 0) GLib.source_remove(this._recheckId);
        this._recheckId = 0;
        Gio.bus_unwatch_name(this._watchId);
        Gio.bus_unown_name(this._ownerId);
        this._button.destroy();
        this._button = null;
        this._bar = null;
        this._statusSection = null;
        this._actionItems = null;
    }

    _names(...files) {
        return files.filter(f => f !== null).map(f => f.get_basename());
    }

    _watchStatusDir() {
        const {Gio, Logic} = this._deps;
        this._statusMonitor?.cancel();
        this._statusMonitor = null;
        try {
            this._statusMonitor = this._statusDir.monitor_directory(
                Gio.FileMonitorFlags.WATCH_MOVES, this._cancellable);
        } catch (e) {
            // The runtime folder's monitor tries again when the status folder appears.
            return;
        }
        this._statusMonitor.connect('changed', (_monitor, file, otherFile) => {
            if (this._names(file, otherFile).includes(Logic.STATUS_FILE_NAME)) this._read();
        });
    }

    _setAppRunning(running) {
        if (!this._enabled) return;
        this._appRunning = running;
        this._update();
    }

    // One read at a time; changes during a read start one more after it.
    _read() {
        if (!this._enabled) return;
        if (this._reading) {
            this._readAgain = true;
            return;
        }
        this._reading = true;
        this._readAgain = false;
        this._readStatusFile(result => {
            if (!this._enabled) return;
            this._reading = false;
            this._file = result;
            if (this._readAgain) this._read();
            else this._update();
        });
    }

    // Calls done(result) with a decodeStatus() result, {kind: 'missing'} or
    // {kind: 'unreadable', message}; never reads more than the size limit.
    _readStatusFile(done) {
        const {Gio, GLib, Logic} = this._deps;
        const file = this._statusFile;
        const cancellable = this._cancellable;
        const fail = error => {
            if (error.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.CANCELLED)) return;
            if (error.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.NOT_FOUND)) done({kind: 'missing'});
            else done({kind: 'unreadable', message: error.message});
        };
        file.query_info_async('standard::type,standard::size',
            Gio.FileQueryInfoFlags.NOFOLLOW_SYMLINKS, GLib.PRIORITY_DEFAULT, cancellable,
            (_file, infoResult) => {
                let info;
                try {
                    info = file.query_info_finish(infoResult);
                } catch (e) {
                    fail(e);
                    return;
                }
                // A FIFO would block the read; a link could point anywhere.
                if (info.get_file_type() !== Gio.FileType.REGULAR) {
                    done({kind: 'unreadable', message: 'это не обычный файл'});
                    return;
                }
                if (info.get_size() > Logic.STATUS_FILE_LIMIT) {
                    done(Logic.oversized());
                    return;
                }
                file.read_async(GLib.PRIORITY_DEFAULT, cancellable, (_f, readResult) => {
                    let stream;
                    try {
                        stream = file.read_finish(readResult);
                    } catch (e) {
                        fail(e);
                        return;
                    }
                    this._readChunks(stream, [], 0, (error, chunks, total) => {
                        stream.close_async(GLib.PRIORITY_DEFAULT, null, null);
                        if (error !== null) {
                            fail(error);
                        } else if (total > Logic.STATUS_FILE_LIMIT) {
                            done(Logic.oversized());
                        } else {
                            const bytes = new Uint8Array(total);
                            let offset = 0;
                            for (const chunk of chunks) {
                                bytes.set(chunk, offset);
                                offset += chunk.length;
                            }
                            done(Logic.decodeStatus(bytes));
                        }
                    });
                });
            });
    }

    // Reads until the end or one byte past the limit (the file may grow after the size check).
    _readChunks(stream, chunks, total, done) {
        const {GLib, Logic} = this._deps;
        const wanted = Logic.STATUS_FILE_LIMIT + 1 - total;
        stream.read_bytes_async(wanted, GLib.PRIORITY_DEFAULT, this._cancellable, (_s, result) => {
            let chunk;
            try {
                chunk = stream.read_bytes_finish(result).toArray();
            } catch (e) {
                done(e, chunks, total);
                return;
            }
            if (chunk.length === 0 || total + chunk.length > Logic.STATUS_FILE_LIMIT) {
                done(null, chunks.concat([chunk]), total + chunk.length);
                return;
            }
            this._readChunks(stream, chunks.concat([chunk]), total + chunk.length, done);
        });
    }

    _buildButton() {
        const {St, Clutter, Main, PanelMenu, PopupMenu, Logic} = this._deps;
        this._button = new PanelMenu.Button(0.0, 'Kestrane', false);
        this._bar = new St.BoxLayout({style_class: 'kestrane-bar', y_align: Clutter.ActorAlign.CENTER});
        this._button.add_child(this._bar);

        this._statusSection = new PopupMenu.PopupMenuSection();
        this._button.menu.addMenuItem(this._statusSection);
        this._button.menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
        this._actionItems = Logic.ACTIONS.map(action => {
            const item = new PopupMenu.PopupMenuItem(action.label);
            item.connect('activate', () => this._call(action, action.method, action.argument));
            this._button.menu.addMenuItem(item);
            return item;
        });
        // Reset times and staleness depend on the time of day; the menu shows them as of now.
        this._button.menu.connect('open-state-changed', (_menu, open) => {
            if (open) this._update();
        });
        Main.panel.addToStatusArea(Logic.STATUS_AREA_ROLE, this._button);
    }

    _update() {
        if (!this._enabled) return;
        const {GLib, Logic} = this._deps;
        const clock = Logic.systemClock();
        const view = Logic.describe(this._file, this._appRunning, clock);
        this._render(view);

        if (this._recheckId !== 0) GLib.source_remove(this._recheckId);
        this._recheckId = 0;
        const delay = Logic.recheckDelaySeconds(view, clock.now);
        if (delay !== null) {
            this._recheckId = GLib.timeout_add_seconds(GLib.PRIORITY_DEFAULT, delay, () => {
                this._recheckId = 0;
                this._update();
                return GLib.SOURCE_REMOVE;
            });
        }
    }

    _render(view) {
        const {PopupMenu} = this._deps;
        this._button.visible = view.visible;
        this._button.accessible_name = `Kestrane: ${view.barText}`;

        const parts = JSON.stringify(view.parts);
        if (parts !== this._shownParts) {
            this._shownParts = parts;
            this._bar.destroy_all_children();
            view.parts.forEach((part, index) => {
                if (index > 0) this._bar.add_child(this._label(' · ', 'kestrane-separator'));
                this._bar.add_child(this._label(part.text, `kestrane-part kestrane-${part.level}`));
            });
        }

        this._statusSection.removeAll();
        // Lines to read, not to click: not activatable, yet reactive so that the theme does not
        // grey them out as it does insensitive items.
        const info = (text, styleClass) => {
            const item = new PopupMenu.PopupMenuItem(text, {activate: false, hover: false, can_focus: false});
            item.track_hover = false;
            if (styleClass) item.label.add_style_class_name(styleClass);
            this._statusSection.addMenuItem(item);
        };
        if (view.notice !== null) info(view.notice, 'kestrane-notice');
        for (const line of view.lines) info(line.text, `kestrane-line kestrane-${line.level}`);
        if (view.recommendation !== null) info(view.recommendation, 'kestrane-recommendation');
        for (const item of this._actionItems) item.setSensitive(view.actionsEnabled);
    }

    _label(text, styleClass) {
        const {St, Clutter} = this._deps;
        // Plain text only: the file's strings are never read as markup.
        const label = new St.Label({text, style_class: styleClass, y_align: Clutter.ActorAlign.CENTER});
        label.clutter_text.use_markup = false;
        return label;
    }

    // Calls the app asynchronously; never starts it (NO_AUTO_START) and tells the user when the
    // call fails instead of doing nothing.
    _call(action, method, argument) {
        const {Gio, GLib, Main, Logic} = this._deps;
        const parameters = argument === null ? null : new GLib.Variant('(s)', [argument]);
        Gio.DBus.session.call(Logic.APP_BUS_NAME, Logic.APP_OBJECT_PATH, Logic.APP_INTERFACE, method,
            parameters, null, Gio.DBusCallFlags.NO_AUTO_START, CALL_TIMEOUT_MS, this._cancellable,
            (connection, result) => {
                try {
                    connection.call_finish(result);
                } catch (e) {
                    if (!this._enabled || e.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.CANCELLED))
                        return;
                    // A call that times out here has no D-Bus error name.
                    const errorName = Gio.DBusError.get_remote_error(e) ??
                        (e.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.TIMED_OUT)
                            ? 'org.freedesktop.DBus.Error.Timeout' : null);
                    if (errorName === 'org.freedesktop.DBus.Error.UnknownMethod' &&
                        action.fallbackMethod !== null && method !== action.fallbackMethod) {
                        this._call(action, action.fallbackMethod, null);
                        return;
                    }
                    Gio.DBusError.strip_remote_error(e);
                    Main.notify('Kestrane', Logic.callFailureText(action, errorName, e.message));
                }
            });
    }
}
