#!/usr/bin/env bash
# Unpacks the source of Debian's own pugixml package (the version the Linux build links) into DEST,
# for the Windows build, which compiles it with the cross compiler. apt works in a private folder
# under DEST with one deb-src line for the system's own Debian mirror and suite, so the system's
# package lists and sources stay as they are. apt checks the files against the signed index;
# dpkg-source applies Debian's patches.
# Usage: fetch-pugixml-source.sh DEST   (DEST/src/pugixml.cpp exists afterwards)
set -euo pipefail
dest=$1
if [ -f "$dest/src/pugixml.cpp" ]; then
    exit 0
fi

# The mirror and suite of the system's first Debian "deb" source, in either list format.
mirror="" suite=""
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
    suite=$(awk '/^Suites:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
fi
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    read -r mirror suite < <(awk '$1 == "deb" && $2 !~ /^\[/ {print $2, $3; exit}' /etc/apt/sources.list)
fi
if [ -z "$mirror" ] || [ -z "$suite" ]; then
    echo "fetch-pugixml-source: no Debian source in the system's apt lists" >&2
    exit 1
fi

apt_dir="$dest.apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/download"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" \
    >"$apt_dir/sources.list"
apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o APT::Sandbox::User=root -qq
)
apt-get "${apt_options[@]}" update
version=$(dpkg-query -W -f='${source:Version}' libpugixml-dev 2>/dev/null || true)
# The version the Linux build links, or the mirror's own when the mirror has moved on.
(cd "$apt_dir/download" &&
    { apt-get "${apt_options[@]}" source --download-only "pugixml${version:+=$version}" ||
        apt-get "${apt_options[@]}" source --download-only pugixml; })
rm -rf "$dest"
dpkg-source --no-check -x "$apt_dir/download"/pugixml_*.dsc "$dest" >/dev/null
rm -rf "$apt_dir"
test -f "$dest/src/pugixml.cpp"
