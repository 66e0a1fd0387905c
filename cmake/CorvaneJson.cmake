# nlohmann json exposed through an interface target of our own: the package's own config
# adds -I/usr/include, which breaks cross builds against another C library.
find_path(CORVANE_NLOHMANN_INCLUDE nlohmann/json.hpp REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/nlohmann-include/nlohmann)
if(NOT CORVANE_NLOHMANN_INCLUDE STREQUAL "/usr/include")
  set(CORVANE_JSON_INCLUDE ${CORVANE_NLOHMANN_INCLUDE})
else()
  # Mirror only the nlohmann headers so that /usr/include itself never lands on the path.
  file(GLOB _nlohmann_headers /usr/include/nlohmann/*)
  file(COPY ${_nlohmann_headers} DESTINATION ${CMAKE_BINARY_DIR}/nlohmann-include/nlohmann)
  set(CORVANE_JSON_INCLUDE ${CMAKE_BINARY_DIR}/nlohmann-include)
endif()
add_library(corvane_json INTERFACE)
target_include_directories(corvane_json SYSTEM INTERFACE ${CORVANE_JSON_INCLUDE})
