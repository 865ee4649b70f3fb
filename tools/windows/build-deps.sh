#!/usr/bin/env bash
# Builds the Windows dependency prefix (zlib, libdeflate, libsodium, libcurl with Schannel,
# wxWidgets MSW, GoogleTest, and 7zz.exe for the tests) from the distribution's own
# source packages with mingw-w64, into a cache outside the checkout. The cache key is
# the package versions, the compiler version and a recipe number, so a warm prefix is
# reused in seconds. Prints the prefix on standard output.
#   TALVANE_WIN_CACHE  cache folder (default /var/cache/talvane-win)
#   TALVANE_DEPS_JOBS  parallel jobs for these builds (default 2)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cache="${TALVANE_WIN_CACHE:-/var/cache/talvane-win}"
jobs="${TALVANE_DEPS_JOBS:-2}"
triple=x86_64-w64-mingw32
order=(zlib libdeflate libsodium curl googletest 7zip wxwidgets3.2)

say() { echo "[deps] $*" >&2; }

# A private deb-src view of the machine's own Debian sources (the release and its
# updates; the security archive serves no sources here), so the system's
# configuration is left alone. Refreshed once a day.
mkdir -p "$cache"
apt_dir="$cache/apt"
mkdir -p "$apt_dir/sources.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
  awk 'BEGIN { RS = ""; ORS = "\n\n" } !/debian-security/ { sub(/Types: deb\n/, "Types: deb-src\n"); print }' \
    /etc/apt/sources.list.d/debian.sources >"$apt_dir/sources.d/debian-src.sources"
else  # the one-line format of older installations
  sed -n '/debian-security/d; s/^deb /deb-src /p' /etc/apt/sources.list >"$apt_dir/sources.d/debian-src.list"
fi
apt_opts=(-o Dir::Etc::sourceparts="$apt_dir/sources.d" -o Dir::Etc::sourcelist=/dev/null
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::archives="$apt_dir/archives"
  -o APT::Sandbox::User=root)
(
  flock 8
  if [[ -z $(find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mmin -1440 -print -quit) ]]; then
    say "refreshing the source package lists"
    apt-get "${apt_opts[@]}" update -qq >&2
  fi
) 8>"$cache/apt.lock"

declare -A version
# Raise the recipe number when a change below must rebuild warm prefixes.
recipe=1
key_text="recipe $recipe"$'\n'"$(${triple}-g++-posix --version | head -1)"
for s in "${order[@]}"; do
  if [[ $s == googletest ]]; then  # its source ships in the googletest binary package
    version[$s]="$(dpkg-query -W -f='${Version}' googletest)"
  else
    version[$s]="$(apt-cache "${apt_opts[@]}" showsrc --only-source "$s" | awk '/^Version:/ {print $2}' | sort -V | tail -1)"
  fi
  [[ -n ${version[$s]} ]] || { say "no source version known for $s"; exit 1; }
  key_text+=$'\n'"$s=${version[$s]}"
done
key="$(printf '%s' "$key_text" | sha256sum | cut -c1-16)"
prefix="$cache/prefix-$key"

exec 9>"$cache/lock"
flock 9
if [[ -f $prefix/.complete ]]; then
  echo "$prefix"
  exit 0
fi

say "building the Windows dependencies into $prefix (several minutes, -j$jobs)"
# An interrupted build goes on where it stopped: each finished step leaves a stamp.
work="$cache/work-$key"
mkdir -p "$work" "$prefix"/{bin,lib,include}
todo() { [[ ! -f $prefix/.step-$1 ]]; }
did() { touch "$prefix/.step-$1"; }
log="$work/build.log"
trap 'say "failed; the last lines of $log:"; tail -n 40 "$log" >&2' ERR

cd "$work"
srcdir() { find "$work" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | head -1; }
for s in "${order[@]}"; do
  [[ $s == googletest || -n $(srcdir "$s") ]] && continue
  say "source $s ${version[$s]}"
  apt-get "${apt_opts[@]}" source -qq "$s=${version[$s]}" >>"$log" 2>&1
done

cc="${triple}-gcc-posix"
cxx="${triple}-g++-posix"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.ccache}"
cross_cmake() {  # source dir, build dir, extra options...
  local src=$1 bld=$2
  shift 2
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/mingw-w64.cmake" -DTALVANE_WIN_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" "$@" >>"$log" 2>&1
  cmake --build "$bld" -j "$jobs" >>"$log" 2>&1
  cmake --install "$bld" >>"$log" 2>&1
}

if todo zlib; then
say "zlib"
(
  cd "$(srcdir zlib)"
  for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees trees uncompr zutil; do
    "$cc" -O2 -c "$f.c" -o "$f.o"
  done
  "${triple}-ar" rcs "$prefix/lib/libz.a" ./*.o
  cp zlib.h zconf.h "$prefix/include/"
) >>"$log" 2>&1
  did zlib
fi

if todo libdeflate; then
say "libdeflate"
(
  cd "$(srcdir libdeflate)"
  for f in lib/*.c lib/x86/*.c; do
    "$cc" -O2 -I. -c "$f" -o "${f//\//_}.o"
  done
  "${triple}-ar" rcs "$prefix/lib/libdeflate.a" ./*.o
  cp libdeflate.h "$prefix/include/"
  mkdir -p "$prefix/lib/pkgconfig"
  printf 'prefix=%s\nName: libdeflate\nDescription: deflate\nVersion: %s\nLibs: -L${prefix}/lib -ldeflate\nCflags: -I${prefix}/include\n' \
    "$prefix" "${version[libdeflate]}" >"$prefix/lib/pkgconfig/libdeflate.pc"
) >>"$log" 2>&1
  did libdeflate
fi

if todo libsodium; then
say "libsodium"
(
  cd "$(srcdir libsodium)"
  [[ -x configure ]] || autoreconf -fi
  ./configure --host="$triple" CC="$cc" --prefix="$prefix" --disable-shared --enable-static \
    --disable-dependency-tracking --enable-minimal=no
  make -j "$jobs"
  make install
) >>"$log" 2>&1
  did libsodium
fi

if todo curl; then
say "curl (Schannel, zlib)"
cross_cmake "$(srcdir curl)" "$work/curl-build" -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF \
  -DBUILD_TESTING=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
  -DCURL_USE_LIBPSL=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
  -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF -DCURL_ZLIB=ON -DZLIB_ROOT="$prefix"
  did curl
fi

if todo googletest; then
say "googletest"
cross_cmake /usr/src/googletest "$work/gtest-build" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF
  did googletest
fi

if todo 7zip; then
say "7zz.exe (for the tests; about 3 minutes)"
(
  cd "$(srcdir 7zip)/CPP/7zip/Bundles/Alone2"
  make -f makefile.gcc -j "$jobs" DISABLE_RAR=1 IS_MINGW=1 MSYSTEM=1 IS_X64=1 O=b/w64 \
    CC="$cc" CXX="$cxx" RC="${triple}-windres" DEB_7Z_CFLAGS= DEB_7Z_CXXFLAGS= DEB_7Z_LDFLAGS=
  cp b/w64/7zz.exe "$prefix/bin/7zz.exe"
  "${triple}-strip" "$prefix/bin/7zz.exe"
) >>"$log" 2>&1
  did 7zip
fi

if todo wx; then
say "wxWidgets (MSW, static; the longest step)"
(
  # Configured afresh: a folder left by a stopped run may point at other sources.
  rm -rf "$work/wx-build"
  mkdir -p "$work/wx-build"
  cd "$work/wx-build"
  # The distribution's tarball carries no bundled image or XML libraries: the
  # launcher needs none of them (its icon is drawn from SVG).
  "$(srcdir wxwidgets3.2)/configure" --host="$triple" --prefix="$prefix" \
    CC="$cc" CXX="$cxx" CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" \
    --with-msw --disable-shared --enable-unicode --disable-debug_flag \
    --with-zlib=sys --without-libpng --without-libjpeg --without-libtiff --without-expat \
    --without-liblzma --without-libcurl --with-regex=builtin \
    --disable-xrc --disable-html --disable-webview --disable-mediactrl \
    --disable-stc --disable-richtext --disable-aui --disable-propgrid --disable-ribbon \
    --without-opengl --disable-sound --disable-webrequest --disable-svg \
    --disable-help --disable-mshtmlhelp --disable-htmlhelp --disable-xpm \
    --disable-tests --disable-sys-libs
  make -j "$jobs"
  make install
) >>"$log" 2>&1
  did wx
fi

rm -rf "$work"
touch "$prefix/.complete"
say "done: $prefix"
echo "$prefix"
