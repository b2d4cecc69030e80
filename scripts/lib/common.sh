# Shared by scripts/test, scripts/demo and scripts/fuzz.

# Debian packages the build, the tests, the demo and the fuzzers need.
TOLVANE_PACKAGES=(
  build-essential cmake pkg-config ccache
  libcurl4-openssl-dev nlohmann-json3-dev libutf8proc-dev libwxgtk3.2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libssl-dev libmicrohttpd-dev libzip-dev
  unzip zip curl openssl xvfb xauth xdotool x11-utils imagemagick openjdk-17-jdk-headless
  clang libclang-rt-14-dev
  nginx-light lintian jq desktop-file-utils devscripts minisign
)

install_dependencies() {
  local missing=()
  for package in "${TOLVANE_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# configure_and_build DIR [cmake arguments...]
configure_and_build() {
  local dir="$1"; shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$(nproc)"
}
