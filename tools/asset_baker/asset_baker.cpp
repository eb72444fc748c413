// halvard-asset-baker: turns the SVG art of the panel into the tagged pixel blocks that the program
// embeds as constant data.
//
//   halvard-asset-baker <catalogue.txt> <art-dir> <out-dir> [--png <dir>] [--coff]
//   halvard-asset-baker --render <file.svg> <width> <height> <out.png>
//   halvard-asset-baker --icon <file.svg> <out.ico> <size>...
//
// The catalogue has one asset per line (blank lines and lines starting with '#' are skipped):
//   <name> <RI|RM> <width> <height> <file.svg> [css...]
// The optional CSS (the rest of the line) is applied as a user stylesheet, so that one drawing can
// give several pictures (for example the amplifier with and without its knobs). The document is
// scaled to fill width x height. A name of the form base[i] makes element i of an array `base`,
// whose elements must be listed from 0 without gaps.
//
// Outputs in <out-dir>: <name>.bin per asset (the tagged block) and assets_data.cpp, which places
// each block in read-only data with .incbin (fast to build whatever the size) and defines the
// ImageAsset constants declared in ui/assets.hpp. With --png, also <dir>/<name>.png for a look.
// --coff writes the assembler directives for Windows object files (PE/COFF) instead of ELF.
//
// --render draws one SVG into a PNG of the given size, as the catalogue would (the program's icons).
// --icon draws one SVG at each size, fitted and centred on a square, and packs the images as PNGs
// into one Windows .ico file (the Windows program's icon resource).

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::string name;
    std::string tag;
    int width = 0;
    int height = 0;
    std::string file;
    std::string css;
    std::string base;  // the array of a name base[i], else the name itself
    int index = -1;    // i of base[i], else -1

    // The block's symbol and file name: base_i for an array element.
    std::string symbol() const { return index < 0 ? name : base + "_" + std::to_string(index); }
};

// Splits base[i] into its array name and index; other names stay as they are. False for a
// malformed array name.
bool splitArrayName(Entry& e) {
    e.base = e.name;
    const auto open = e.name.find('[');
    if (open == std::string::npos) return e.name.find(']') == std::string::npos;
    if (open == 0 || e.name.back() != ']' || open + 2 >= e.name.size()) return false;
    const std::string digits = e.name.substr(open + 1, e.name.size() - open - 2);
    if (digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    e.base = e.name.substr(0, open);
    e.index = std::stoi(digits);
    return true;
}

// Every array's indices run from 0 without gaps or repeats, and no plain asset shares its name.
bool arraysComplete(const std::vector<Entry>& entries) {
    std::map<std::string, std::vector<int>> indices;
    for (const Entry& e : entries) indices[e.base].push_back(e.index);
    for (auto& [base, list] : indices) {
        std::sort(list.begin(), list.end());
        const bool plain = list.size() == 1 && list[0] < 0;
        for (size_t i = 0; i < list.size() && !plain; ++i) {
            if (list[i] != static_cast<int>(i)) {
                std::cerr << "asset_baker: " << base << ": the elements must run from [0] without gaps\n";
                return false;
            }
        }
    }
    return true;
}

bool parseCatalogue(const std::string& path, std::vector<Entry>& entries) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "asset_baker: cannot read " << path << "\n";
        return false;
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        std::istringstream fields(line);
        Entry e;
        fields >> e.name >> e.tag >> e.width >> e.height >> e.file;
        std::getline(fields, e.css);
        if (!fields.eof() && fields.fail()) fields.clear();
        if (e.name.empty() || !splitArrayName(e) || (e.tag != "RI" && e.tag != "RM") || e.width <= 0 ||
            e.height <= 0 || e.width > 65535 || e.height > 65535 || e.file.empty()) {
            std::cerr << path << ":" << lineNo
                      << ": expected <name> <RI|RM> <width> <height> <file.svg> [css]\n";
            return false;
        }
        entries.push_back(std::move(e));
    }
    return arraysComplete(entries);
}

// Renders one entry, drawn from the SVG file at `path`, into a premultiplied ARGB32 surface of its
// pixel size; null on failure.
cairo_surface_t* render(const Entry& e, const std::string& path) {
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(path.c_str(), &error);
    if (handle == nullptr) {
        std::cerr << "asset_baker: " << path << ": " << (error ? error->message : "cannot load") << "\n";
        if (error) g_error_free(error);
        return nullptr;
    }
    if (!e.css.empty() && !rsvg_handle_set_stylesheet(handle, reinterpret_cast<const guint8*>(e.css.data()),
                                                      e.css.size(), &error)) {
        std::cerr << "asset_baker: " << e.name << ": bad stylesheet: " << (error ? error->message : "")
                  << "\n";
        if (error) g_error_free(error);
        g_object_unref(handle);
        return nullptr;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, e.width, e.height);
    cairo_t* cr = cairo_create(surface);
    const RsvgRectangle viewport{0, 0, static_cast<double>(e.width), static_cast<double>(e.height)};
    const bool ok = rsvg_handle_render_document(handle, cr, &viewport, &error);
    cairo_destroy(cr);
    g_object_unref(handle);
    if (!ok) {
        std::cerr << "asset_baker: " << path << ": " << (error ? error->message : "cannot render") << "\n";
        if (error) g_error_free(error);
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    return surface;
}

// The tagged block: header, then R, G, B, A (premultiplied) or coverage bytes, rows without padding.
std::vector<uint8_t> toBlock(const Entry& e, cairo_surface_t* surface) {
    const bool colour = e.tag == "RI";
    std::vector<uint8_t> block;
    block.reserve(6 + static_cast<size_t>(e.width) * e.height * (colour ? 4 : 1));
    block.push_back('R');
    block.push_back(colour ? 'I' : 'M');
    block.push_back(static_cast<uint8_t>(e.width & 0xff));
    block.push_back(static_cast<uint8_t>(e.width >> 8));
    block.push_back(static_cast<uint8_t>(e.height & 0xff));
    block.push_back(static_cast<uint8_t>(e.height >> 8));
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < e.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < e.width; ++x) {
            const uint32_t p = row[x];  // native-endian 0xAARRGGBB, premultiplied
            if (colour) {
                block.push_back(static_cast<uint8_t>(p >> 16));
                block.push_back(static_cast<uint8_t>(p >> 8));
                block.push_back(static_cast<uint8_t>(p));
            }
            block.push_back(static_cast<uint8_t>(p >> 24));
        }
    }
    return block;
}

// Writes the file only when its content changes, so that an unchanged asset rebuilds nothing.
bool writeIfChanged(const std::string& path, const std::string& content) {
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream old;
            old << in.rdbuf();
            if (old.str() == content) return true;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) {
        std::cerr << "asset_baker: cannot write " << path << "\n";
        return false;
    }
    return true;
}

std::string assemblerString(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string dataSource(const std::vector<Entry>& entries, const std::vector<size_t>& sizes, uint64_t hash,
                       const std::string& outDir, bool coff) {
    std::ostringstream s;
    // The hash changes this file whenever a block changes, so the build re-assembles the blocks.
    s << "// Generated by halvard-asset-baker from assets/catalogue.txt. Do not edit.\n"
         "// Content hash of the blocks: "
      << std::hex << hash << std::dec << "\n#include <cstdint>\n\n#include \"ui/assets.hpp\"\n\n";
    // The blocks go into read-only data through the assembler, which copies each file as it is;
    // a C array of millions of initialisers would take the compiler far longer. COFF has neither
    // symbol visibility nor .previous: there the statement ends in .text, where the compiler's own
    // output starts.
    s << "__asm__(\n    \"" << (coff ? ".section .rdata,\\\"dr\\\"" : ".section .rodata") << "\\n\"\n";
    for (const Entry& e : entries) {
        const std::string sym = "halvard_asset_" + e.symbol();
        s << "    \".balign 16\\n\"\n"
          << "    \".globl " << sym << "\\n\"\n"
          << (coff ? "" : "    \".hidden " + sym + "\\n\"\n") << "    \"" << sym << ":\\n\"\n"
          << "    \".incbin \\\"" << assemblerString(assemblerString(outDir + "/" + e.symbol() + ".bin"))
          << "\\\"\\n\"\n";
    }
    s << (coff ? "    \".text\\n\");\n\n" : "    \".previous\\n\");\n\n");
    s << "extern \"C\" {\n";
    for (const Entry& e : entries) s << "extern const uint8_t halvard_asset_" << e.symbol() << "[];\n";
    s << "}\n\nnamespace halvard::assets {\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.index < 0) {
            s << "const ImageAsset " << e.name << "{halvard_asset_" << e.symbol() << ", " << sizes[i]
              << "};\n";
        } else if (e.index == 0) {
            // The whole array at its first element, its elements in index order.
            std::vector<std::string> elements;
            for (size_t j = 0; j < entries.size(); ++j) {
                const Entry& m = entries[j];
                if (m.base != e.base) continue;
                if (elements.size() <= static_cast<size_t>(m.index))
                    elements.resize(static_cast<size_t>(m.index) + 1);
                elements[static_cast<size_t>(m.index)] =
                    "{halvard_asset_" + m.symbol() + ", " + std::to_string(sizes[j]) + "}";
            }
            s << "const ImageAsset " << e.base << "[" << elements.size() << "] = {\n";
            for (const std::string& element : elements) s << "    " << element << ",\n";
            s << "};\n";
        }
    }
    s << "}  // namespace halvard::assets\n";
    return s.str();
}

// The --render form: one drawing to one PNG.
int renderOne(const std::string& svg, const std::string& width, const std::string& height,
              const std::string& png) {
    Entry e;
    e.name = png;
    try {
        e.width = std::stoi(width);
        e.height = std::stoi(height);
    } catch (const std::exception&) {
    }
    if (e.width <= 0 || e.height <= 0 || e.width > 65535 || e.height > 65535) {
        std::cerr << "asset_baker: bad size " << width << " x " << height << "\n";
        return 2;
    }
    cairo_surface_t* surface = render(e, svg);
    if (surface == nullptr) return 1;
    const bool ok = cairo_surface_write_to_png(surface, png.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!ok) std::cerr << "asset_baker: cannot write " << png << "\n";
    return ok ? 0 : 1;
}

// A surface as PNG bytes.
std::string pngBytes(cairo_surface_t* surface) {
    std::string png;
    cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* data, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    return png;
}

void putLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// The drawing at every size, fitted and centred on a transparent square, as one .ico of PNG images.
int writeIcon(const std::string& svg, const std::string& out, const std::vector<int>& sizes) {
    std::vector<std::string> images;
    for (int size : sizes) {
        Entry e;
        e.name = svg;
        e.width = e.height = size;
        cairo_surface_t* surface = render(e, svg);
        if (surface == nullptr) return 1;
        images.push_back(pngBytes(surface));
        cairo_surface_destroy(surface);
    }
    // ICONDIR, then one 16-byte ICONDIRENTRY per image, then the images.
    std::string ico;
    putLe(ico, 0, 2);
    putLe(ico, 1, 2);  // an icon
    putLe(ico, static_cast<uint32_t>(sizes.size()), 2);
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        const uint32_t side = sizes[i] >= 256 ? 0 : static_cast<uint32_t>(sizes[i]);  // 0 means 256
        putLe(ico, side, 1);
        putLe(ico, side, 1);
        putLe(ico, 0, 1);  // no palette
        putLe(ico, 0, 1);
        putLe(ico, 1, 2);   // planes
        putLe(ico, 32, 2);  // bits per pixel
        putLe(ico, static_cast<uint32_t>(images[i].size()), 4);
        putLe(ico, offset, 4);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const std::string& image : images) ico += image;
    return writeIfChanged(out, ico) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--render") return renderOne(argv[2], argv[3], argv[4], argv[5]);
    if (argc >= 5 && std::string(argv[1]) == "--icon") {
        std::vector<int> sizes;
        for (int i = 4; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
        if (std::any_of(sizes.begin(), sizes.end(), [](int s) { return s < 1 || s > 256; })) {
            std::cerr << "asset_baker: icon sizes are 1 to 256\n";
            return 2;
        }
        return writeIcon(argv[2], argv[3], sizes);
    }
    std::string pngDir;
    bool coff = false;
    bool usage = argc < 4;
    for (int i = 4; i < argc && !usage; ++i) {
        const std::string option = argv[i];
        if (option == "--png" && i + 1 < argc) {
            pngDir = argv[++i];
        } else if (option == "--coff") {
            coff = true;
        } else {
            usage = true;
        }
    }
    if (usage) {
        std::cerr << "usage: halvard-asset-baker <catalogue.txt> <art-dir> <out-dir> [--png <dir>] [--coff]\n"
                     "       halvard-asset-baker --render <file.svg> <width> <height> <out.png>\n"
                     "       halvard-asset-baker --icon <file.svg> <out.ico> <size>...\n";
        return 2;
    }
    const std::string cataloguePath = argv[1];
    const std::string artDir = argv[2];
    const std::string outDir = argv[3];

    std::vector<Entry> entries;
    if (!parseCatalogue(cataloguePath, entries)) return 1;

    std::vector<size_t> sizes;
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over every block
    for (const Entry& e : entries) {
        cairo_surface_t* surface = render(e, artDir + "/" + e.file);
        if (surface == nullptr) return 1;
        if (!pngDir.empty()) {
            const std::string png = pngDir + "/" + e.symbol() + ".png";
            if (cairo_surface_write_to_png(surface, png.c_str()) != CAIRO_STATUS_SUCCESS) {
                std::cerr << "asset_baker: cannot write " << png << "\n";
            }
        }
        const std::vector<uint8_t> block = toBlock(e, surface);
        cairo_surface_destroy(surface);
        sizes.push_back(block.size());
        for (uint8_t b : block) hash = (hash ^ b) * 1099511628211ull;
        const std::string bin(reinterpret_cast<const char*>(block.data()), block.size());
        if (!writeIfChanged(outDir + "/" + e.symbol() + ".bin", bin)) return 1;
    }
    return writeIfChanged(outDir + "/assets_data.cpp", dataSource(entries, sizes, hash, outDir, coff)) ? 0
                                                                                                       : 1;
}
