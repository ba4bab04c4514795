# The main window, the add-from-folder dialog, the about window, start-up and
# shut-down, and their images.
target_sources(tenvo_ui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/frmversion.h ${CMAKE_CURRENT_LIST_DIR}/frmversion.cpp
    ${CMAKE_CURRENT_LIST_DIR}/frmaddfolder.h ${CMAKE_CURRENT_LIST_DIR}/frmaddfolder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/frmmain.h ${CMAKE_CURRENT_LIST_DIR}/frmmain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup.h ${CMAKE_CURRENT_LIST_DIR}/startup.cpp)
qt_add_resources(tenvo_ui tenvo_images
    PREFIX /tenvo
    BASE ${CMAKE_CURRENT_LIST_DIR}/resources
    FILES
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/tenvo-16.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/tenvo-32.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/tenvo-48.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/tenvo-64.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/tenvo-128.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/new.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/new@2x.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/add.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/add@2x.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/delete.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/delete@2x.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/extract.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/extract@2x.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/help.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/help@2x.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/folder-open.png
        ${CMAKE_CURRENT_LIST_DIR}/resources/icons/folder-open@2x.png)
