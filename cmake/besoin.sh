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
		# sudo is on neither a minimal system nor one installed with a
		# root password: name su as well.
		echo "missing Debian packages:$manque" >&2
		echo "install them as root, with sudo:" >&2
		echo "    sudo apt-get update && sudo apt-get install$manque" >&2
		echo "or with root's password:" >&2
		echo "    su -c 'apt-get update && apt-get install$manque'" >&2
		exit 1
	fi
}
