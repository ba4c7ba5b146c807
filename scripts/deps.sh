# Installs the Debian packages the build and the tests need, when missing.
# Sourced by the other scripts; needs root (or sudo) only when installing.
zu_packages="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libssl-dev socat libpugixml-dev
  nginx-light tinyproxy curl python3-werkzeug"
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
