# Install into PREFIX (default ~/.local) and the login autostart entry.
AUTOSTART_DIR ?= $(or $(XDG_CONFIG_HOME),$(HOME)/.config)/autostart

.PHONY: install uninstall install-autostart uninstall-autostart

install: build
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	@[ -f $(BUILD)/install_manifest.txt ] && xargs rm -fv < $(BUILD)/install_manifest.txt || echo "nothing installed from $(BUILD)"

# Starts Quillet at login so the due-task alert appears; it ends at once
# when nothing is due.
install-autostart: install
	mkdir -p $(AUTOSTART_DIR)
	sed 's|^Exec=.*|Exec=$(PREFIX)/bin/quillet-launch|' packaging/quillet-autostart.desktop > $(AUTOSTART_DIR)/quillet.desktop
	@echo "installed $(AUTOSTART_DIR)/quillet.desktop"

uninstall-autostart:
	rm -f $(AUTOSTART_DIR)/quillet.desktop
