#!/bin/bash
# "Open With" for configuration files: installed as the package installs it,
# the program is offered for .ini files on a desktop that knows only the
# stock MIME database and its own, beside the text editor, and it is offered
# for no other text file, whose default program stays the editor.
set -u
build="${VANTRELLE_BINARY_DIR:?}"
prefix="$(mktemp -d)"
work="$(mktemp -d)"
trap 'rm -rf "$prefix" "$work"' EXIT
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then :; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
for tool in xdg-mime gio update-mime-database update-desktop-database; do
  if ! command -v "$tool" >/dev/null; then
    echo "open_with: $tool is not installed (scripts/setup installs it); nothing to check"
    exit 0
  fi
done
if ! "$1" --help >/dev/null || [ -z "$(ldd "$1" | grep -i qt6)" ]; then
  echo "open_with: this build has no window; nothing to check"
  exit 0
fi

if ! cmake --install "$build" --prefix "$prefix" >/dev/null; then
  echo "FAILED: cmake --install"
  exit 1
fi
share="$prefix/share"
check "installs the configuration file type" test -s "$share/mime/packages/vantrelle.xml"
# Installed into a prefix, the install compiled the MIME database and the
# applications' type cache there, as the package's triggers do in /usr.
check "the MIME database knows the type" grep -q "^application/x-wine-extension-ini:\*\.ini$" \
  "$share/mime/globs"
check "the type cache lists the menu entry" grep -q "vantrelle.desktop" \
  "$share/applications/mimeinfo.cache"

# A text editor, the default program for plain text as on a stock desktop.
mkdir -p "$work/editor/applications" "$work/config" "$work/home"
printf '[Desktop Entry]\nType=Application\nName=Editor\nExec=true %%f\nMimeType=text/plain;\n' \
  > "$work/editor/applications/editor.desktop"
update-desktop-database "$work/editor/applications"
printf '[Default Applications]\ntext/plain=editor.desktop\n' > "$work/config/mimeapps.list"
desktop() {  # runs a command on that desktop (GNOME, as Debian's default desktop)
  env XDG_CURRENT_DESKTOP=GNOME XDG_DATA_HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    XDG_DATA_DIRS="$work/editor:$share:/usr/share" PATH="$prefix/bin:$PATH" "$@" 2>/dev/null
}
printf '[FILE]\nLogFileName=run.log\n' > "$work/report.ini"
printf 'notes\n' > "$work/notes.txt"
ini_type="$(desktop xdg-mime query filetype "$work/report.ini")"
check "xdg-mime: a .ini file is a configuration file ($ini_type)" \
  test "$ini_type" = "application/x-wine-extension-ini"
check "xdg-mime: other text stays plain text" \
  test "$(desktop xdg-mime query filetype "$work/notes.txt")" = "text/plain"

ini_apps="$(desktop gio mime application/x-wine-extension-ini)"
text_apps="$(desktop gio mime text/plain)"
check "gio mime: the program is offered for .ini files" \
  grep -q "^[[:space:]]*vantrelle.desktop$" <<<"$ini_apps"
check "gio mime: the editor is still offered for .ini files" \
  grep -q "^[[:space:]]*editor.desktop$" <<<"$ini_apps"
check "gio mime: the default for text stays the editor" \
  grep -q "^Default application .*: editor.desktop$" <<<"$text_apps"
lacks() { ! grep -q "$1" <<<"$2"; }
check "gio mime: the program is not offered for every text file" \
  lacks vantrelle.desktop "$text_apps"

[ $failures -eq 0 ] && echo "open with: all checks passed"
exit $failures
