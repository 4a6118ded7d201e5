# One target that every library and executable of the project links: language level,
# warnings, Qt's safety defines and, when asked for, the sanitizers.
add_library(horavo_options INTERFACE)
target_compile_features(horavo_options INTERFACE cxx_std_20)
target_compile_options(horavo_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(horavo_options INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

if(HORAVO_SANITIZE)
  target_compile_options(horavo_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(horavo_options INTERFACE -fsanitize=address,undefined)
endif()

# One include root for the whole tree: every include names its folder from the top
# ("store/Esql.h", "platform/widgets/Form.h"), so the layer of every name shows where
# it is included.
target_include_directories(horavo_options INTERFACE ${PROJECT_SOURCE_DIR})
