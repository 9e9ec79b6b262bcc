#!/usr/bin/env bash
# Builds Tessamune's Debian packages from this checkout and checks them with
# lintian: installs the packaging tools and the build dependencies that
# debian/control names, builds the binary packages with dpkg-buildpackage in
# a clean copy of the checkout (its committed files and new files git does
# not ignore), and leaves them in dist/: the packages, the build's .buildinfo,
# and in dist/debug/ the debug symbols (-dbgsym packages). Fails when lintian
# reports an error or a warning. Needs root, or sudo, for the installs.
#
#   TESSAMUNE_PACKAGE_BUILD_DIR   where the copy is built (default build-package)
#   TESSAMUNE_PACKAGE_JOBS        parallel compile jobs (default: the number of cores)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work="${TESSAMUNE_PACKAGE_BUILD_DIR:-$root/build-package}"
dist="$root/dist"
jobs="${TESSAMUNE_PACKAGE_JOBS:-$(nproc)}"

if [[ $(id -u) -eq 0 ]]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
# Wait for another apt or dpkg to finish rather than fail.
apt_get=("${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600)

echo "== Packaging tools and build dependencies"
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends \
    git dpkg-dev debhelper lintian > /dev/null

# The source tree to build: what git would commit, without build folders or
# earlier packages.
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
upstream=${version%-*}
source="$work/tessamune-$upstream"
rm -rf "$work"
mkdir -p "$source"
git -C "$root" ls-files -z --cached --others --exclude-standard \
    | (cd "$root" && tar --null --no-recursion --ignore-failed-read -cf - --files-from=-) \
    | tar -xf - -C "$source"

"${apt_get[@]}" build-dep -y -qq "$source" > /dev/null

echo "== Building the packages (tessamune $version)"
(cd "$source" && nice dpkg-buildpackage -b --no-sign -j"$jobs")

changes="$work/tessamune_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).changes"
rm -rf "$dist"
mkdir -p "$dist/debug"
for deb in "$work"/*.deb; do
    case $deb in
        *-dbgsym_*) cp "$deb" "$dist/debug/" ;;
        *) cp "$deb" "$dist/" ;;
    esac
done
cp "$work"/*.buildinfo "$dist/"

echo "== lintian"
lintian --display-info --fail-on error,warning "$changes"

echo
echo "Packages in $dist:"
for deb in "$dist"/*.deb; do
    printf '  %s\n' "$(basename "$deb")"
done
echo "Install them all with: sudo apt install $dist/*.deb"
