# Installing Torvane and its Debian package (cpack -G DEB in the build directory; scripts/package.sh).
# Installed layout under the prefix (/usr for the package):
#   bin/torvane, bin/market-sim              the programs
#   lib/torvane/*.exe                        the chat sender and the demo's stand-in chat client (Windows)
#   share/torvane/smtp_server.py             the demo's mail server
#   share/doc/torvane, share/man/man1        README, deployment example, copyright, changelog; man pages
#   share/applications, share/icons/hicolor the menu entry and its icon
#   lib/systemd/{user,system}                the runner's units (the postinst makes the system service's user)
# The program finds its companions in PREFIX/lib/torvane and PREFIX/share/torvane, and an installed copy
# keeps the seller's files in the XDG directories (src/app/paths.h).

# The icon theme's sizes, rendered from the window's own logo.
add_executable(torvane-render-icon tools/icons/render_icon.cpp)
target_link_libraries(torvane-render-icon PRIVATE Qt6::Svg Qt6::Gui)
torvane_target_defaults(torvane-render-icon)
set(TORVANE_ICON_SVG ${CMAKE_SOURCE_DIR}/src/gui/resources/logo.svg)
set(TORVANE_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_icon_pngs "")
set(_icon_args "")
foreach(_size IN LISTS TORVANE_ICON_SIZES)
  set(_png ${CMAKE_BINARY_DIR}/icons/${_size}x${_size}/torvane.png)
  list(APPEND _icon_pngs ${_png})
  list(APPEND _icon_args "${_size}:${_png}")
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/icons/${_size}x${_size})
endforeach()
add_custom_command(OUTPUT ${_icon_pngs}
  # Under the sanitizers the toolkit's own allocations at exit are no failure of the drawing.
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:torvane-render-icon> ${TORVANE_ICON_SVG} ${_icon_args}
  DEPENDS torvane-render-icon ${TORVANE_ICON_SVG}
  COMMENT "Rendering the icon in the icon theme's sizes")

# Man pages and the changelog, gzip'd without a time stamp as Debian wants them.
find_program(TORVANE_GZIP gzip REQUIRED)
set(_gzipped "")
foreach(_page torvane.1 market-sim.1)
  configure_file(docs/man/${_page} ${CMAKE_BINARY_DIR}/man/${_page} @ONLY)
  list(APPEND _gzipped ${CMAKE_BINARY_DIR}/man/${_page})
endforeach()
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
list(APPEND _gzipped ${CMAKE_BINARY_DIR}/packaging/changelog)
set(_gz_outputs "")
foreach(_file IN LISTS _gzipped)
  add_custom_command(OUTPUT ${_file}.gz
    COMMAND ${TORVANE_GZIP} -9nkf ${_file}
    DEPENDS ${_file})
  list(APPEND _gz_outputs ${_file}.gz)
endforeach()
add_custom_target(torvane_install_files ALL DEPENDS ${_icon_pngs} ${_gz_outputs})

install(TARGETS torvane market-sim RUNTIME DESTINATION bin)
install(FILES tools/mail-sink/smtp_server.py DESTINATION share/torvane)
if(TORVANE_WINDOWS_TOOLS)
  install(FILES ${TORVANE_CHAT_EXE} ${TORVANE_FAKE_CHAT_CLIENT} DESTINATION lib/torvane)
endif()
install(FILES README.md docs/部署配置.example.ini packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION share/doc/torvane)
install(FILES tools/market-sim/README.md DESTINATION share/doc/torvane RENAME market-sim.md)
install(FILES ${CMAKE_BINARY_DIR}/man/torvane.1.gz ${CMAKE_BINARY_DIR}/man/market-sim.1.gz DESTINATION share/man/man1)
install(FILES packaging/torvane.desktop DESTINATION share/applications)
foreach(_size IN LISTS TORVANE_ICON_SIZES)
  install(FILES ${CMAKE_BINARY_DIR}/icons/${_size}x${_size}/torvane.png
          DESTINATION share/icons/hicolor/${_size}x${_size}/apps)
endforeach()
install(FILES ${TORVANE_ICON_SVG} DESTINATION share/icons/hicolor/scalable/apps RENAME torvane.svg)
install(FILES packaging/systemd/torvane.service DESTINATION lib/systemd/user)
install(FILES packaging/systemd/torvane@.service DESTINATION lib/systemd/system)

# The Debian package. Its library dependencies come from dpkg-shlibdeps; the rest are what the
# program loads without linking it (the SVG icon plugins) and what the postinst uses.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VENDOR "Torvane developers")
set(CPACK_PACKAGE_CONTACT "Torvane developers <packages@torvane.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "card-code delivery for marketplace sellers of virtual goods")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Torvane keeps a seller's inventory of card codes (a card number and a card
secret per unit sold), reads the shop's paid but unshipped orders on a timer,
hands each buyer exactly the codes paid for through the chat client or by
e-mail, records every code sent and marks the order shipped. It tells the
seller what happened through its activity log, tray balloons, SMS and e-mail.
.
The package holds the window (torvane), the headless runner and card
commands (torvane run, torvane cards, torvane sent), systemd units for the
runner, and the marketplace simulator market-sim that the demo uses.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.torvane.com/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, python3-aiosmtpd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
