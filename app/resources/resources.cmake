# The window's pictures: the logo shown by Image1 and the program icon.
# Compiled into vitalon_app; they are found at :/images/<file>.
qt_add_resources(vitalon_app "vitalon_images"
    PREFIX "/"
    BASE ${CMAKE_CURRENT_LIST_DIR}
    FILES
        ${CMAKE_CURRENT_LIST_DIR}/images/logo.png
        ${CMAKE_CURRENT_LIST_DIR}/images/icon-16.png
        ${CMAKE_CURRENT_LIST_DIR}/images/icon-32.png
)
