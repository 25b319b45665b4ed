# The window (Qt 6 Widgets): the dialog-template layer, data exchange, MainDialog with its
# details area and background run, and the About box, with the templates, strings and icon
# of res/ compiled in.
find_package(Qt6 REQUIRED COMPONENTS Widgets Charts Svg)
find_package(Threads REQUIRED)

add_library(tarnwell_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DialogUnits.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogTemplate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TemplateDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DataExchange.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BackgroundRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChartPanel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChartPanel.h
  ${CMAKE_CURRENT_LIST_DIR}/DetailsPanel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DetailsPanel.h
  ${CMAKE_CURRENT_LIST_DIR}/MainDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/MainDialogFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsLine.h
  ${CMAKE_CURRENT_LIST_DIR}/HelpDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HelpDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/StartArguments.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrySettingsDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrySettingsDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/TemplateDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/AboutDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AboutDialog.h
  ${PROJECT_SOURCE_DIR}/res/tarnwell.qrc)
set_target_properties(tarnwell_ui PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(tarnwell_ui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnwell_ui PUBLIC tarnwell_charts Qt6::Widgets Threads::Threads)
target_link_libraries(tarnwell_ui PRIVATE tarnwell_version)
