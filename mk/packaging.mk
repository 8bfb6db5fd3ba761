# Install into PREFIX (default ~/.local), the per-user login alert, and the
# Debian package.
.PHONY: install uninstall install-autostart uninstall-autostart deb check-deb

# The tests install into scratch prefixes and so rewrite install_manifest.txt;
# uninstall reads the copy kept here.
INSTALLED = $(BUILD)/installed-files.txt

install: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target quillet quillet-windows
	cmake --install $(BUILD) --prefix $(PREFIX) --strip
	cp $(BUILD)/install_manifest.txt $(INSTALLED)

uninstall:
	@[ -f $(INSTALLED) ] && xargs -d '\n' rm -fv < $(INSTALLED) && rm -f $(INSTALLED) || echo "nothing installed from $(BUILD)"

# The login alert for this user, through the launcher installed in PREFIX
# (the same switch a package user runs); installs nothing else.
install-autostart uninstall-autostart:
	@[ -x $(PREFIX)/bin/quillet-launch ] || { echo "no Quillet in $(PREFIX): make install PREFIX=$(PREFIX) first"; exit 1; }
	$(PREFIX)/bin/quillet-launch --autostart $(if $(findstring uninstall,$@),off,on)

# dist/quillet_<version>_<arch>.deb (and its -dbgsym), built by dpkg-buildpackage
# from a copy of the tree, or of the commit DEB_FROM (CI: HEAD).
DEB_FROM ?=
deb: deps
	scripts/build-deb $(DEB_FROM)

# lintian and the unpacked package's programs, on the package of this version.
check-deb:
	tests/packaging/check-deb.sh dist/quillet_$$(dpkg-parsechangelog -S Version)_$$(dpkg-architecture -q DEB_HOST_ARCH).deb
