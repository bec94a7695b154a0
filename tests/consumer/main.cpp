#include <iostream>

#include <annoxml/annoxml.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: consumer FILE.xml\n";
        return 2;
    }
    const AnnotationTable shapes = GetAllAnnotations(argv[1]);
    std::cout << "\n" << shapes.at("Rectangle").size() << " rectangle(s)\n";
    return shapes.size() == 15 ? 0 : 1;
}
