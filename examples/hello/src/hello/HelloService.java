// A small service application: it logs a heartbeat until the service is stopped,
// and says goodbye from a shutdown hook, which the launcher's stop runs.
package hello;

import java.io.FileWriter;
import java.io.IOException;
import java.io.PrintWriter;
import java.time.LocalDateTime;

public final class HelloService {
    private HelloService() {}

    public static void main(String[] args) throws Exception {
        String file = args.length > 0 ? args[0] : "hello-service.log";
        String service = System.getProperty("zanto.serviceName", "(not a service)");
        PrintWriter out = new PrintWriter(new FileWriter(file, true), true);
        out.println(LocalDateTime.now() + " started as " + service + " with " + args.length + " arguments");
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            out.println(LocalDateTime.now() + " stopping");
            out.close();
        }));
        Thread beat = new Thread(() -> {
            try {
                while (true) {
                    Thread.sleep(5000);
                    out.println(LocalDateTime.now() + " alive");
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "heartbeat");
        beat.start();
    }
}
