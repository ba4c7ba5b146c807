# Installs the Debian packages the build and the tests need, when missing.
# Sourced by the other scripts; needs root (or sudo) only when installing.
# One line per user of the packages.
# The build: compiler, CMake, Ninja; SQLite under the registry stand-in.
zu_packages="cmake ninja-build g++ libsqlite3-dev"
# The TLS and certificate stand-ins: OpenSSL 3.
zu_packages="$zu_packages libssl-dev"
# The tests: GoogleTest; pkg-config for the host built against the install.
zu_packages="$zu_packages libgtest-dev pkg-config"
# The TLS tests' and benchmark's peers and judge: openssl (s_server, s_client,
# s_time, verify), gnutls-bin (gnutls-serv, gnutls-cli); the CA bundle.
zu_packages="$zu_packages openssl gnutls-bin ca-certificates"
# The benchmarks: Google Benchmark; pugixml, the settings benchmark's anchor.
zu_packages="$zu_packages libbenchmark-dev libpugixml-dev"
# The HTTP tests and benchmark: the peers they start, curl as the anchor.
zu_packages="$zu_packages nginx-light tinyproxy curl python3-werkzeug"
zu_install_missing() {
  missing=""
  for p in $zu_packages "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "installing:$missing"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
}
# The Windows stage (scripts/test-windows): the MinGW-w64 cross compiler,
# GoogleTest's sources to build for Windows, and Wine to run the tests.
zu_windows_packages="g++-mingw-w64-x86-64-posix googletest wine64"
