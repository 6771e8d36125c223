# Sourced by the scripts: installs the Debian 12 packages a script needs.
# Usage: kx_need_packages pkg...   (installs those not yet installed)

kx_need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# What building the program needs.
# glib-compile-resources (libglib2.0-dev-bin) compiles the icon in. The text
# view edits, undoes and searches with GtkSourceView, checks spelling with
# gspell and reads aloud through libspeechd.
KX_BUILD_PACKAGES=(build-essential cmake pkg-config libgtk-3-dev libudev-dev libglib2.0-dev-bin
    libgtksourceview-4-dev libgspell-1-dev libspeechd-dev)
# What the tests need on top.
# librsvg2-common: GdkPixbuf's SVG loader, which draws the window icon.
# bash-completion: the helpers the bash completion is tested with.
# hunspell-en-us: the one dictionary the spelling test underlines with.
KX_TEST_PACKAGES=(libgtest-dev libgmock-dev xvfb xauth xdotool dbus-daemon fonts-dejavu-core
    x11-utils clang-format librsvg2-common bash-completion hunspell-en-us)
# What building the Debian package needs on top of the build.
KX_PACKAGE_PACKAGES=(dpkg-dev debhelper)
# What checking it needs on top of that (scripts/package --check): on a minimal
# system some 130 packages, which a user who only builds and installs is spared.
KX_CHECK_PACKAGES=(lintian appstream desktop-file-utils man-db)
# What scripts/vm-test needs on top of the build and the tests: QEMU, a static
# busybox for the guest's initramfs, modprobe/depmod for the kernel's modules,
# and udev, whose daemon and rules the guest runs from the host's root.
KX_VM_PACKAGES=(qemu-system-x86 busybox-static kmod udev)
