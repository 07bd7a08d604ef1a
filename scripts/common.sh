# Shared by ./run and ./test: install what is missing, configure and build.

QOR_PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  qt6-base-dev qt6-multimedia-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev
  zlib1g-dev libpng-dev libmng-dev libjpeg62-turbo-dev
  libfreetype-dev libfontconfig-dev fonts-nanum fonts-liberation fonts-dejavu-core
  liblua5.4-dev
  libcairo2-dev
)

qor_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

qor_install_deps() {
  local missing=()
  for pkg in "${QOR_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    qor_as_root apt-get update -qq
    qor_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${missing[@]}"
  fi
}

# qor_configure DIR [cmake options...]
qor_configure() {
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja -DQOR_WERROR=ON "$@" >/dev/null
}

# qor_build DIR [cmake options...]: configures and builds every target.
qor_build() {
  qor_configure "$@"
  cmake --build "$1" -- -k 0
}

qor_jobs() { nproc 2>/dev/null || echo 2; }
