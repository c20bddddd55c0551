#!/usr/bin/python3
"""Runs a command under the system-call filter a systemd unit gives its service.

    unit-syscall-filter.py UNIT-FILE -- COMMAND [ARG...]

Reads SystemCallFilter=, SystemCallArchitectures=, MemoryDenyWriteExecute= and
RestrictAddressFamilies= from the unit's [Service] section, expands the groups with
`systemd-analyze syscall-filter` as systemd does (an allow-list starts from
@default; a '~' line takes names out of it), loads the filter with libseccomp and
executes COMMAND. A call outside the filter kills the process with SIGSYS, where
the unit would fail it with its SystemCallErrorNumber=: a test run then shows every
call the service would be refused. A socket of a family the unit does not allow
fails with EAFNOSUPPORT, as under systemd. For machines where systemd is not the
first process and the unit cannot be started itself.
"""

import errno
import os
import socket
import subprocess
import sys

import seccomp

PROT_WRITE, PROT_EXEC, SHM_EXEC = 0x2, 0x4, 0o100000
ADDRESS_FAMILIES_END = 64  # above every AF_* the kernel knows


def service_settings(unit_path):
    """The values of the three settings, in order, from the [Service] section."""
    settings = {"SystemCallFilter": [], "SystemCallArchitectures": [], "MemoryDenyWriteExecute": [],
                "RestrictAddressFamilies": []}
    section = None
    with open(unit_path, encoding="utf-8") as unit:
        for line in unit:
            line = line.strip()
            if not line or line[0] in "#;":
                continue
            if line.startswith("["):
                section = line
                continue
            key, _, value = line.partition("=")
            if section == "[Service]" and key in settings:
                settings[key].append(value.strip())
    return settings


def expand(names, groups):
    """The system calls that the names (calls and @groups) stand for."""
    calls = set()
    for name in names:
        if not name.startswith("@"):
            calls.add(name)
            continue
        if name not in groups:
            out = subprocess.run(["systemd-analyze", "syscall-filter", name], check=True,
                                 capture_output=True, text=True).stdout
            members = [w for w in (l.strip() for l in out.splitlines()[1:]) if w and w[0] != "#"]
            groups[name] = set()  # a group never names itself, but stop a loop anyway
            groups[name] = expand(members, groups)
        calls |= groups[name]
    return calls


def allowed_calls(filters):
    """The allow-list the SystemCallFilter= lines give (None when there are none)."""
    allowed, groups = None, {}
    for value in filters:
        deny = value.startswith("~")
        names = value.lstrip("~").split()
        if allowed is None:
            if deny:
                sys.exit("unit-syscall-filter: only allow-lists (a first line without '~') are run")
            allowed = expand(["@default"], groups)
        if deny:
            allowed -= expand(names, groups)
        else:
            allowed |= expand(names, groups)
    return allowed


def allowed_families(values):
    """The address families the RestrictAddressFamilies= lines allow (None: all)."""
    if not values:
        return None
    if len(values) != 1 or values[0].startswith("~"):
        sys.exit("unit-syscall-filter: only one RestrictAddressFamilies= allow-list is run")
    return {int(getattr(socket, name)) for name in values[0].split()}


def add_rule(flt, action, call, *conditions):
    try:
        flt.add_rule(action, call, *conditions)
    except (RuntimeError, ValueError, OSError):
        pass  # a call this architecture does not have


def add_allow(flt, call, *conditions):
    add_rule(flt, seccomp.ALLOW, call, *conditions)


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.exit(__doc__.strip().splitlines()[2].strip())
    settings = service_settings(sys.argv[1])
    allowed = allowed_calls(settings["SystemCallFilter"])
    if allowed is None:
        sys.exit("unit-syscall-filter: the unit has no SystemCallFilter=")
    if settings["SystemCallArchitectures"] not in ([], ["native"]):
        sys.exit("unit-syscall-filter: only SystemCallArchitectures=native is run")
    no_wx = settings["MemoryDenyWriteExecute"][-1:] == ["yes"]
    families = allowed_families(settings["RestrictAddressFamilies"])

    flt = seccomp.SyscallFilter(defaction=seccomp.KILL_PROCESS)
    # A memory that is both writable and executable, or made executable later,
    # is refused as MemoryDenyWriteExecute= does.
    guarded = {"mmap", "mprotect", "pkey_mprotect", "shmat"} if no_wx else set()
    if families is not None:
        guarded.add("socket")
        if "socket" in allowed:
            for family in range(ADDRESS_FAMILIES_END):
                action = seccomp.ALLOW if family in families else seccomp.ERRNO(errno.EAFNOSUPPORT)
                add_rule(flt, action, "socket", seccomp.Arg(0, seccomp.EQ, family))
    for call in sorted(allowed - guarded):
        add_allow(flt, call)
    if no_wx:
        wx = PROT_WRITE | PROT_EXEC
        for prot in (0, PROT_WRITE, PROT_EXEC):
            if "mmap" in allowed:
                add_allow(flt, "mmap", seccomp.Arg(2, seccomp.MASKED_EQ, wx, prot))
        for call in ("mprotect", "pkey_mprotect"):
            if call in allowed:
                add_allow(flt, call, seccomp.Arg(2, seccomp.MASKED_EQ, PROT_EXEC, 0))
        if "shmat" in allowed:
            add_allow(flt, "shmat", seccomp.Arg(2, seccomp.MASKED_EQ, SHM_EXEC, 0))
    flt.load()
    os.execvp(sys.argv[3], sys.argv[3:])


if __name__ == "__main__":
    main()
