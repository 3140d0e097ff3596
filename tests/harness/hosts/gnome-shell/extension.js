// The desktop tests' GNOME Shell: the workspace at start instead of the overview, and the
// shell's screenshot and evaluation interfaces open to the test's calls (unsafe mode, which
// GNOME Shell 43 has no command-line switch for), without the panel's warning about it, whose
// red badge would stand beside the icon the test reads. Only ever enabled in a test's session.
const Main = imports.ui.main;

class Extension {
    enable() {
        global.context.unsafe_mode = true;
        Main.panel.statusArea.quickSettings._indicators.get_children()
            .filter(indicator => indicator.constructor.name === 'UnsafeModeIndicator')
            .forEach(indicator => indicator.hide());
        if (Main.layoutManager._startingUp) {
            this._startupId = Main.layoutManager.connect('startup-complete',
                () => Main.overview.hide());
        } else {
            Main.overview.hide();
        }
    }

    disable() {
        if (this._startupId)
            Main.layoutManager.disconnect(this._startupId);
        this._startupId = 0;
        global.context.unsafe_mode = false;
    }
}

function init() {
    return new Extension();
}
