# sendova_add_layer(FOLDER [LINKS target...] [SOURCES file...])
#
# One static library per folder of src/, named sendova_<folder>. Code includes
# headers as "folder/Name.h"; each library puts on the include path a root
# that holds its own folder only, and passes it on to the libraries that link
# it. A folder can therefore include only itself and what it links: an
# include that points up the layers (net including "model/…", say) fails to
# compile, whatever happens to be linked into the final program.
function(sendova_add_layer folder)
    cmake_parse_arguments(ARG "" "" "LINKS;SOURCES" ${ARGN})
    set(target sendova_${folder})
    set(root ${CMAKE_BINARY_DIR}/layers/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC sendova_build_flags ${ARG_LINKS})
endfunction()
