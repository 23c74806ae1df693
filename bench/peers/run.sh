#!/usr/bin/env bash
# Builds and runs the side-by-side comparison, then draws its charts.
#
#   bash bench/peers/run.sh            # full run: 1,000 queries per k, 40 for brute force
#   QUERIES=100 SLOW=5 bash bench/peers/run.sh   # a quick look
#
# Installs its Debian packages when they are missing (needs root), builds the release preset,
# writes docs/data/peers.csv and the charts in docs/img/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

packages=(cmake g++ libbenchmark-dev libgtest-dev libedlib-dev libtre-dev wamerican-insane
  gnuplot-nox)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake --preset default >/dev/null
cmake --build --preset default --target peers
mkdir -p docs/data docs/img
build/default/bench/peers \
  --queries "${QUERIES:-1000}" --slow "${SLOW:-40}" >docs/data/peers.csv
{
  echo "machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB," \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
  echo "compiler: $(g++ --version | head -n1)"
  echo "date: $(date -u +%Y-%m-%d)"
} >docs/data/peers-machine.txt
bash bench/peers/plot.sh docs/data/peers.csv docs/img
