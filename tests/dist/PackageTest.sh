#!/usr/bin/env bash
# Builds the Debian package from a finished build folder (or takes KAVEL_DEB), unpacks it into
# an empty folder and runs the programs from there: the package must hold everything they need
# at its own relative places, and the installed layout must move the definition files to the
# user's data folder.
#   PackageTest.sh BUILD_DIR [CPACK]
set -euo pipefail
build=$1
cpack=${2:-cpack}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

deb=${KAVEL_DEB:-}
if [[ -z $deb ]]; then
    if ! (cd "$build" && "$cpack" -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1); then
        cat "$scratch/cpack.log" >&2
        fail "cpack could not build the package"
    fi
    deb=$(find "$scratch/package" -maxdepth 1 -name 'kavel_*.deb' | head -n 1)
fi
[[ -f $deb ]] || fail "no package found"

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# libre2- and libzstd without their soname versions, which change between Debian releases.
for library in libc6 libstdc++6 libre2- libzstd; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library"
done

root=$scratch/root
dpkg -x "$deb" "$root"
for file in usr/bin/kavel-cli usr/share/man/man1/kavel.1 usr/share/man/man1/kavel-cli.1 \
    usr/share/applications/de.quarnet.Kavel.desktop usr/share/metainfo/de.quarnet.Kavel.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/kavel.svg usr/share/bash-completion/completions/kavel-cli; do
    [[ -f $root/$file ]] || fail "the package lacks $file"
done
[[ -d $root/usr/share/kavel ]] || fail "the package lacks usr/share/kavel"
if command -v rsvg-convert >/dev/null; then
    for size in 16 32 48 64 128 256; do
        [[ -f $root/usr/share/icons/hicolor/${size}x${size}/apps/kavel.png ]] || fail "no ${size}px icon"
    done
fi

version=$("$root/usr/bin/kavel-cli" --version) || fail "kavel-cli --version failed"
echo "$version"
[[ $version == "kavel-cli "* ]] || fail "unexpected version text: $version"

# Unpacked anywhere, the program counts as installed: with no home given it uses the user's
# data folder, creating it.
home=$scratch/home
mkdir -p "$home"
env -u KAVEL_HOME -u XDG_DATA_HOME HOME="$home" "$root/usr/bin/kavel-cli" watch --for 0 \
    >"$scratch/watch.out" 2>"$scratch/watch.err" || fail "kavel-cli watch failed: $(cat "$scratch/watch.err")"
grep -qF "$home/.local/share/kavel/kavel.servers" "$scratch/watch.err" ||
    fail "the installed program did not use the user's data folder: $(cat "$scratch/watch.err")"

# The demo never takes the user's real workspace for its own (a fresh user: the run above wrote
# an empty servers file, which the demo would rightly use).
home=$scratch/fresh-home
mkdir -p "$scratch/tmp" "$home"
env -u KAVEL_HOME -u XDG_DATA_HOME HOME="$home" TMPDIR="$scratch/tmp" "$root/usr/bin/kavel-cli" watch --demo \
    --for 0 >/dev/null 2>"$scratch/demo.err" || fail "kavel-cli watch --demo failed: $(cat "$scratch/demo.err")"
grep -qF "Demo-Arbeitsbereich: $scratch/tmp/" "$scratch/demo.err" ||
    fail "the demo did not use a temporary workspace: $(cat "$scratch/demo.err")"
[[ ! -e $home/.local/share/kavel/kavel.servers ]] || fail "the demo wrote into the user's data folder"

if [[ -x $root/usr/bin/kavel ]]; then
    # Qt's own buttons and dialogs speak German only with Qt's German catalogue installed.
    [[ $depends == *qt6-translations-l10n* ]] || fail "Depends lacks qt6-translations-l10n"
    QT_QPA_PLATFORM=offscreen HOME="$home" "$root/usr/bin/kavel" --version || fail "kavel --version failed"
else
    echo "The package holds no kavel; only kavel-cli was started."
fi

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/de.quarnet.Kavel.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/de.quarnet.Kavel.metainfo.xml" || fail "metainfo"
fi
if command -v man >/dev/null; then
    for page in kavel kavel-cli; do
        warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1" 2>&1 >/dev/null)
        [[ -z $warnings ]] || fail "man $page: $warnings"
    done
fi
echo "package test passed"
