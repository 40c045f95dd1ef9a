target_sources(tormel_service PRIVATE ${CMAKE_CURRENT_LIST_DIR}/bufstream.cpp)
