// GNOME Shell 45 and later load the extension as an ES module. legacy/extension.js is the
// same for 43-44; all the work is in indicator.js and logic.js.
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import St from 'gi://St';

import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';

import {createIndicator} from './indicator.js';
import * as Logic from './logic.js';

export default class KestraneExtension extends Extension {
    enable() {
        this._indicator = createIndicator({Gio, GLib, St, Clutter, Main, PanelMenu, PopupMenu, Logic});
        this._indicator.enable();
    }

    disable() {
        this._indicator?.disable();
        this._indicator = null;
    }
}
