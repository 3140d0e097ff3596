# Sourced by install-deps.sh, test.sh and in-netns.sh: whether this kernel runs i386 programs
# itself, and where the emulator that runs them otherwise is kept.
#
# Some kernels run no 32-bit code at all ("IA-32 emulation off": an i386 execve fails with
# ENOEXEC), so 32-bit Wine, and with it the shipped 32-bit quorvane.exe, cannot start there.
# qemu's user-mode emulator runs them: qemu-i386 10.x from Debian's bookworm-backports (the
# static binary of package qemu-user, kept outside the clone so that every clone reuses it),
# registered for i386 ELF in binfmt_misc only inside the test's own namespaces
# (scripts/in-netns.sh, QV_I386_EMULATOR). Bookworm's own qemu 7.2 is not enough: Wine's device
# services crash in it ("segv_handler Got unexpected trap -1") and no echo request goes out.

# The emulator's place: one per user, beside the user's other caches.
QV_QEMU_I386=${QV_QEMU_I386:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvane/qemu-i386}

# True when the kernel itself runs i386 programs (32-bit Wine's loader stands for them all).
# An emulator registered in binfmt_misc would make any such program start, so where the kernel
# gives a user namespace a binfmt_misc of its own (6.7 and later), the program is tried there,
# where nothing is registered.
qv_i386_native() {
    local loader=/usr/lib/wine/wine
    [[ -x "$loader" ]] || return 1
    local mount='mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc'
    if unshare -U -r -m sh -c "$mount" 2>/dev/null; then
        unshare -U -r -m sh -c "$mount && exec \"\$0\" --version" "$loader" >/dev/null 2>&1
    else
        "$loader" --version >/dev/null 2>&1
    fi
}

# True when the emulator is in place and a 10.x or later.
qv_qemu_i386_ok() {
    local version
    version=$("$QV_QEMU_I386" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
    [[ -n "$version" ]] && ((version >= 10))
}

# True when the 32-bit programs are to run through the emulator: where the kernel cannot run
# them, or when QV_I386_EMULATION=1 asks for that path where it can (to try it there).
qv_i386_emulated() {
    [[ "${QV_I386_EMULATION:-}" == 1 ]] || ! qv_i386_native
}
