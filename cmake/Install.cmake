# Install rules, pkg-config file and CMake package of the library and the console.
