// Packs a folder tree into an LZH archive with one compression method (for
// the older methods no packer on this system writes): java LzhPack.java
// METHOD ARCHIVE FOLDER. Needs Debian's libjlha-java on the class path.
import java.io.*;
import java.nio.file.*;
import java.util.*;
import jp.gr.java_conf.dangan.util.lha.*;

public class LzhPack {
    public static void main(String[] args) throws Exception {
        String method = args[0];
        Path root = Paths.get(args[2]);
        List<Path> files = new ArrayList<>();
        try (var walk = Files.walk(root)) {
            walk.filter(Files::isRegularFile).sorted().forEach(files::add);
        }
        try (LhaOutputStream out = new LhaOutputStream(new FileOutputStream(args[1]))) {
            for (Path file : files) {
                LhaHeader header = new LhaHeader(root.relativize(file).toString());
                header.setCompressMethod(method);
                header.setHeaderLevel(2);
                header.setLastModified(new Date(Files.getLastModifiedTime(file).toMillis()));
                header.setOriginalSize(Files.size(file));
                out.putNextEntry(header);
                out.write(Files.readAllBytes(file));
                out.closeEntry();
            }
        }
    }
}
