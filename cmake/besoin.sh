# Sourced by the project's scripts: besoin PACKAGE... makes sure the Debian
# packages are installed, installing them when run as root, and otherwise
# says which are missing and stops.
besoin() {
	manque=
	for p in "$@"; do
		dpkg-query -W -f='${Status}' "$p" 2>/dev/null |
			grep -q 'install ok installed' || manque="$manque $p"
	done
	[ -z "$manque" ] && return 0
	if [ "$(id -u)" -eq 0 ]; then
		echo "installing:$manque" >&2
		apt-get update -qq &&
			DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
				$manque >/dev/null ||
			{ echo "could not install:$manque" >&2; exit 1; }
	else
		echo "missing Debian packages:$manque" >&2
		echo "install them with: sudo apt-get install$manque" >&2
		exit 1
	fi
}
