// GNOME Shell 43-44 load the extension through the legacy importer; assemble.sh installs this
// file as extension.js next to the legacy forms of indicator.js and logic.js. The ES-module
// entry point for 45 and later is ../kestrane@kestrane.github.io/extension.js.
/* exported init, enable, disable */
const {Clutter, Gio, GLib, St} = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;
const Me = imports.misc.extensionUtils.getCurrentExtension();

let indicator = null;

function init() {}

function enable() {
    const Logic = Me.imports.logic;
    indicator = Me.imports.indicator.createIndicator(
        {Gio, GLib, St, Clutter, Main, PanelMenu, PopupMenu, Logic});
    indicator.enable();
}

function disable() {
    indicator?.disable();
    indicator = null;
}
