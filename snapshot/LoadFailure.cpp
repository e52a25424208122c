#include "snapshot/LoadFailure.h"

namespace snapshot {

std::string loadFailureText(const engine::Failure& f) {
    using engine::LoadError;
    switch (f.error) {
        case LoadError::Refused:
            return f.detail.empty() ? "浏览器拒绝打开这个地址" : "浏览器不连接 " + f.detail + " 端口，它是留给其他服务的";
        case LoadError::ConnectionRefused: return "服务器拒绝了连接";
        case LoadError::TimedOut: return "连接超时";
        case LoadError::Unreachable: return "连不上服务器所在的网络";
        case LoadError::ConnectionClosed: return "服务器中断了连接";
        case LoadError::NoHost: return "找不到服务器";
        case LoadError::Tls: return "安全连接出错";
        case LoadError::NotFound: return "文件不存在";
        case LoadError::NoPermission: return "没有读取的权限";
        case LoadError::Unsupported: return "不支持这种网址";
        case LoadError::NotAPage: return "这个地址不是可以显示的网页";
        case LoadError::NeverSettles: return "网页不停地自己跳转到别的地址";
        case LoadError::Stopped: return "网页没有响应，已被停止";
        case LoadError::Crashed: return "显示网页的进程意外退出了";
        case LoadError::OutOfMemory: return "网页占用的内存太多，已被停止";
        case LoadError::NeedsLogin: return "网页要求输入用户名和密码";
        case LoadError::LoginRefused: return "网页不接受所给的用户名和密码";
        case LoadError::PrivateAddress: return "网络规则不允许访问这个地址";
        case LoadError::None:
        case LoadError::Other: break;
    }
    return f.detail.empty() ? "原因不明" : f.detail;
}

}  // namespace snapshot
