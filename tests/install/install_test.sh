#!/usr/bin/env bash
# Installs this build tree into a scratch prefix (never the build's programs
# by path) and checks one area:
#   demo     every document an installed document links to is installed; the
#            example stream runs with the installed programs only; a
#            reinstall keeps the operator's environment file
#   runner   the service runner lays out a root without replacing files,
#            runs again over a stream written during a run, refuses a root
#            the daemon cannot write, passes on stops and exit codes
#   units    systemd-analyze verify on the three units; the path unit's
#            trigger and the environment file the services read
#   package  the Debian package from this build: file list, control fields,
#            removal keeping the data, and --version from a scratch root made
#            with dpkg -x
# Usage: install_test.sh CASE BUILD_DIR
set -euo pipefail

case=$1
build=$(cd "$2" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tqinstall-XXXXXX")
cleanup() {
    [ -n "${background:-}" ] && kill "$background" 2>/dev/null
    [ -n "${KEEP:-}" ] || rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    "$@" || fail "$what"
}

version=$(sed -n 's/^#define TQ_VERSION "\(.*\)"$/\1/p' "$build/generated/tq_version.h")
[ -n "$version" ] || fail "no version in $build/generated/tq_version.h"

prefix=$scratch/prefix
install_tree() {
    cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
        { cat "$scratch/install.log"; fail "cmake --install"; }
}
# Runs a program with only the installed programs on PATH (and the sanitizer
# settings of a sanitized build).
sanitizer_env=()
for v in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!v:-}" ] && sanitizer_env+=("$v=${!v}")
done
clean_env=(env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$scratch" TMPDIR="$scratch" "${sanitizer_env[@]}")
installed() { "${clean_env[@]}" "$@"; }

case $case in
demo)
    install_tree
    for f in bin/tqdaemon bin/tqstream bin/tqmap libexec/tqdaemon/tqdaemon-run \
        share/tqdaemon/oid_to_sym share/tqdaemon/services share/doc/tqdaemon/README.md \
        share/doc/tqdaemon/docs/stream-format.md share/doc/tqdaemon/examples/storage.jsonl \
        lib/systemd/system/tqdaemon.service lib/systemd/system/tqdaemon.path \
        lib/systemd/system/tqmap-serve.service etc/default/tqdaemon; do
        [ -e "$prefix/$f" ] || fail "not installed: $f"
    done
    # Every file an installed document links to is installed beside it.
    while IFS= read -r doc; do
        for target in $(grep -o '](\([^)#]*\)' "$doc" | sed 's/^](//' | grep -v '^[a-z]*:'); do
            [ -e "$(dirname "$doc")/$target" ] || fail "${doc#"$prefix"/} links to $target, which is not installed"
        done
    done < <(find "$prefix/share/doc/tqdaemon" -name '*.md')
    for p in tqdaemon tqstream tqmap; do
        out=$(installed "$p" --version)
        [ "$out" = "$p $version" ] || fail "$p --version printed '$out', not '$p $version'"
    done

    root=$scratch/root
    mkdir -p "$root/etc" "$root/usr/ov/conf/c"
    cp "$prefix/share/tqdaemon/services" "$root/etc/services"
    cp "$prefix/share/tqdaemon/oid_to_sym" "$root/usr/ov/conf/c/oid_to_sym"
    installed tqstream encode -i "$prefix/share/doc/tqdaemon/examples/storage.jsonl" -o "$root/tqdaemon.file"
    installed TQ_ROOT="$root" tqdaemon >"$scratch/console.txt" 2>&1 || fail "tqdaemon exited with $?"
    grep -q "Ending tqdaemon.exe" "$root/usr/ov/log/tqdaemon.log" || fail "no end in the message log"
    installed tqmap --db "$root/usr/ov/databases/tqmap.db" tree >"$scratch/tree.txt"
    # The example's labels after its second phase.
    for label in "Fabric A" "sw1 (core)"; do
        grep -qF "$label" "$scratch/tree.txt" || { cat "$scratch/tree.txt"; fail "no '$label' on the map"; }
    done

    # A reinstall keeps an environment file the operator changed.
    echo "TQMAP_LISTEN=127.0.0.1:9999" >>"$prefix/etc/default/tqdaemon"
    install_tree
    grep -q "9999" "$prefix/etc/default/tqdaemon" || fail "reinstall replaced the environment file"
    ;;

runner)
    install_tree
    run=$prefix/libexec/tqdaemon/tqdaemon-run
    root=$scratch/root
    mkdir -p "$root/usr/ov/conf/c"
    cp "$prefix/share/tqdaemon/oid_to_sym" "$root/usr/ov/conf/c/oid_to_sym"
    echo "# the operator's own" >>"$root/usr/ov/conf/c/oid_to_sym"
    cp "$root/usr/ov/conf/c/oid_to_sym" "$scratch/operator-oid_to_sym"
    example=$prefix/share/doc/tqdaemon/examples/storage.jsonl
    installed tqstream encode -i "$example" -o "$root/tqdaemon.file"
    # The second write of the stream relabels a switch.
    { cat "$example"; echo '{"type":"change_label","unique_id":"sw2","label":"written during the run"}'; } \
        >"$scratch/second.jsonl"

    # The daemon as the runner starts it; its first run ends after the stream
    # was written again, as a manager writing while the daemon runs would.
    cat >"$scratch/daemon" <<SCRIPT
#!/bin/sh
echo run >>"$scratch/runs"
"$prefix/bin/tqdaemon"
rc=\$?
if [ "\$(wc -l <"$scratch/runs")" -eq 1 ]; then
    "$prefix/bin/tqstream" encode -i "$scratch/second.jsonl" -o "\$TQ_ROOT/tqdaemon.file"
fi
exit \$rc
SCRIPT
    chmod +x "$scratch/daemon"
    installed TQ_ROOT="$root" TQ_DAEMON="$scratch/daemon" "$run" >"$scratch/runner.txt" 2>&1 ||
        { cat "$scratch/runner.txt"; fail "runner exited with $?"; }
    [ "$(wc -l <"$scratch/runs")" -eq 2 ] || fail "the stream written during the run did not run again"
    grep -q "running it again" "$scratch/runner.txt" || fail "no line on the second run"
    installed tqmap --db "$root/usr/ov/databases/tqmap.db" tree >"$scratch/tree.txt"
    grep -qF "written during the run" "$scratch/tree.txt" || fail "the change written during the run is not on the map"
    cmp -s "$root/usr/ov/conf/c/oid_to_sym" "$scratch/operator-oid_to_sym" || fail "the operator's oid_to_sym was replaced"
    cmp -s "$root/etc/services" "$prefix/share/tqdaemon/services" || fail "no services file laid out"

    # An unchanged stream runs once.
    installed TQ_ROOT="$root" TQ_DAEMON="$scratch/daemon" "$run" >/dev/null 2>&1 || fail "runner failed"
    [ "$(wc -l <"$scratch/runs")" -eq 3 ] || fail "an unchanged stream ran more than once"

    # Exit codes pass through: 1 for a failed run, which is not repeated.
    printf '#!/bin/sh\necho run >>"%s/fails"\ntouch "$TQ_ROOT/tqdaemon.file"\nexit 1\n' "$scratch" >"$scratch/failing"
    chmod +x "$scratch/failing"
    set +e
    installed TQ_ROOT="$root" TQ_DAEMON="$scratch/failing" "$run" >/dev/null 2>&1
    rc=$?
    set -e
    [ "$rc" -eq 1 ] || fail "a failed run gave $rc, not 1"
    [ "$(wc -l <"$scratch/fails")" -eq 1 ] || fail "a failed run was repeated"

    # A root whose folder the daemon cannot write (root without capabilities,
    # as the sandboxed service runs, in a folder it may not write) is refused
    # with a line in the journal; the daemon does not run.
    chmod 555 "$root"
    unprivileged=()
    [ "$(id -u)" -ne 0 ] || unprivileged=(setpriv --bounding-set=-all --inh-caps=-all)
    set +e
    "${unprivileged[@]}" "${clean_env[@]}" TQ_ROOT="$root" TQ_DAEMON="$scratch/daemon" "$run" >"$scratch/refused.txt" 2>&1
    rc=$?
    set -e
    chmod 755 "$root"
    [ "$rc" -eq 1 ] || { cat "$scratch/refused.txt"; fail "a root the daemon cannot write gave $rc, not 1"; }
    grep -q "tqdaemon-run: the daemon cannot write its log and traces: $root is not writable" "$scratch/refused.txt" ||
        { cat "$scratch/refused.txt"; fail "no line on the root the daemon cannot write"; }
    [ "$(wc -l <"$scratch/runs")" -eq 3 ] || fail "the daemon ran in a root it cannot write"

    # A stop request reaches the daemon, whose exit code is the runner's.
    for mode in clean killed; do
        rm -f "$scratch/started" "$scratch/stopped"
        if [ "$mode" = clean ]; then
            body='trap "touch \"$0.stopped\"; exit 0" TERM'
        else
            body=''
        fi
        printf '#!/bin/sh\n%s\ntouch "%s/started"\nwhile :; do sleep 0.05; done\n' "$body" "$scratch" >"$scratch/long"
        chmod +x "$scratch/long"
        # exec: the signal must reach the runner, not a subshell around it.
        (exec "${clean_env[@]}" TQ_ROOT="$root" TQ_DAEMON="$scratch/long" "$run" >/dev/null 2>&1) &
        background=$!
        for _ in $(seq 200); do [ -e "$scratch/started" ] && break; sleep 0.05; done
        [ -e "$scratch/started" ] || fail "the daemon did not start"
        kill -TERM "$background"
        set +e
        wait "$background"
        rc=$?
        set -e
        background=
        if [ "$mode" = clean ]; then
            [ "$rc" -eq 0 ] || fail "a daemon that stopped cleanly gave $rc"
            [ -e "$scratch/long.stopped" ] || fail "the stop request did not reach the daemon"
        else
            [ "$rc" -eq 143 ] || fail "a daemon ended by SIGTERM gave $rc, not the signal"
        fi
    done
    ;;

units)
    install_tree
    command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed (package systemd)"
    units=$prefix/lib/systemd/system
    out=$(systemd-analyze verify --man=no "$units/tqdaemon.service" "$units/tqdaemon.path" \
        "$units/tqmap-serve.service" 2>&1) || { echo "$out"; fail "systemd-analyze verify"; }
    [ -z "$out" ] || { echo "$out"; fail "systemd-analyze verify warned"; }

    # key FILE KEY: the values of KEY in a unit or environment file.
    key() { sed -n "s/^$2=//p" "$1"; }
    envfile=$prefix/etc/default/tqdaemon
    root=$(key "$envfile" TQ_ROOT)
    [ -n "$root" ] || fail "the environment file sets no TQ_ROOT"
    [ "$(key "$units/tqdaemon.path" PathChanged)" = "$root/tqdaemon.file" ] ||
        fail "the path unit does not watch $root/tqdaemon.file"
    [ "$(key "$units/tqdaemon.path" Unit)" = tqdaemon.service ] || fail "the path unit does not start tqdaemon.service"
    for service in tqdaemon.service tqmap-serve.service; do
        [ "$(key "$units/$service" EnvironmentFile)" = "-$envfile" ] || fail "$service does not read $envfile"
        key "$units/$service" Environment | grep -qw "TQ_ROOT=$root" || fail "$service defaults TQ_ROOT elsewhere"
    done
    [ "$(key "$units/tqdaemon.service" ReadWritePaths)" = "$root" ] || fail "tqdaemon.service may not write $root"
    [ "$(key "$units/tqdaemon.service" ExecStart)" = "$prefix/libexec/tqdaemon/tqdaemon-run" ] ||
        fail "tqdaemon.service does not start the installed runner"
    listen=$(key "$envfile" TQMAP_LISTEN)
    [ "${listen%:*}" = 127.0.0.1 ] || fail "the web view listens on '$listen' by default"
    [ "$(key "$units/tqmap-serve.service" ExecStart)" = "$prefix/bin/tqmap serve --listen \${TQMAP_LISTEN}" ] ||
        fail "tqmap-serve.service does not serve on TQMAP_LISTEN"
    for service in tqdaemon.service tqmap-serve.service; do
        for setting in NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes ProtectHome=yes; do
            grep -qx "$setting" "$units/$service" || fail "$service lacks $setting"
        done
    done
    # Installed, not enabled: nothing links them into a target here.
    [ ! -e "$prefix/etc/systemd" ] || fail "units enabled at install"
    ;;

package)
    command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"
    command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps is not installed (package dpkg-dev)"
    # The package of this build tree's programs; nothing is rebuilt.
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log"; fail "cpack"; }
    debs=("$scratch"/out/tqdaemon_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single .deb: ${debs[*]}"
    deb=${debs[0]}
    arch=$(dpkg --print-architecture)
    [ "$(basename "$deb")" = "tqdaemon_${version}_$arch.deb" ] || fail "package file $(basename "$deb")"

    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = tqdaemon ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
    [ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
    [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no Maintainer or Description"
    # Dependencies computed from the programs' libraries.
    for dep in libc6 libsqlite3-0 libstdc++6; do
        field Depends | grep -q "\b$dep\b" || fail "Depends lacks $dep: $(field Depends)"
    done

    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | sort >"$scratch/files"
    for f in /usr/bin/tqdaemon /usr/bin/tqstream /usr/bin/tqmap /usr/libexec/tqdaemon/tqdaemon-run \
        /usr/lib/systemd/system/tqdaemon.service /usr/lib/systemd/system/tqdaemon.path \
        /usr/lib/systemd/system/tqmap-serve.service /etc/default/tqdaemon \
        /usr/share/tqdaemon/oid_to_sym /usr/share/tqdaemon/services \
        /usr/share/doc/tqdaemon/README.md /usr/share/doc/tqdaemon/examples/storage.jsonl \
        /usr/share/doc/tqdaemon/docs/web-view.md; do
        grep -qx "$f" "$scratch/files" || fail "not in the package: $f"
    done
    # Nothing outside /usr and /etc/default, nothing in /usr/local, no unit enabled.
    bad=$(grep -vE '^(/|/usr(/.*)?|/etc|/etc/default(/tqdaemon)?)$' "$scratch/files" | grep -v '^/usr/local' || true)
    bad+=$(grep -E '^/usr/local|/etc/systemd' "$scratch/files" || true)
    [ -z "$bad" ] || fail "unexpected paths in the package: $bad"

    dpkg-deb -e "$deb" "$scratch/control"
    grep -qx /etc/default/tqdaemon "$scratch/control/conffiles" || fail "the environment file is not a conffile"
    for script in postinst prerm postrm; do
        [ -x "$scratch/control/$script" ] || fail "no $script"
    done

    # Removing keeps the service's root and says so; a purge removes it only
    # when empty. Run on a scratch root in place of the service's.
    state=$scratch/state
    sed -e "s|/var/lib/tqdaemon|$state|g" -e "s|/run/systemd/system|$scratch/no-systemd|" \
        "$scratch/control/postrm" >"$scratch/postrm"
    mkdir -p "$state/usr/ov/log"
    touch "$state/tq_std.trc"
    out=$(sh "$scratch/postrm" remove)
    [ -e "$state/tq_std.trc" ] && grep -q "kept $state" <<<"$out" || fail "apt remove: '$out'"
    out=$(sh "$scratch/postrm" purge)
    [ -e "$state/tq_std.trc" ] && grep -q "kept $state" <<<"$out" || fail "apt purge of a root in use: '$out'"
    rm -rf "${state:?}"/*
    sh "$scratch/postrm" purge >/dev/null
    [ ! -e "$state" ] || fail "apt purge left an empty root"

    dpkg -x "$deb" "$scratch/x"
    out=$("$scratch/x/usr/bin/tqdaemon" --version)
    [ "$out" = "tqdaemon $version" ] || fail "the packaged tqdaemon --version printed '$out'"
    # The packaged units name the packaged programs and the system's environment file.
    grep -qx "ExecStart=/usr/libexec/tqdaemon/tqdaemon-run" "$scratch/x/usr/lib/systemd/system/tqdaemon.service" ||
        fail "packaged tqdaemon.service starts something else"
    grep -qx "EnvironmentFile=-/etc/default/tqdaemon" "$scratch/x/usr/lib/systemd/system/tqmap-serve.service" ||
        fail "packaged tqmap-serve.service reads another environment file"
    ;;

*)
    fail "unknown case '$case'"
    ;;
esac
echo "PASS: $case"
