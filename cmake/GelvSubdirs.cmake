# gelv_add_existing(<dir>...): adds each folder that has a CMakeLists.txt, so the
# tree builds while parts of the layout are still missing.
function(gelv_add_existing)
    foreach(dir ${ARGN})
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# gelv_add_all(): adds every subfolder that has a CMakeLists.txt.
function(gelv_add_all)
    file(GLOB entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    gelv_add_existing(${entries})
endfunction()
